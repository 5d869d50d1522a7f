// SPDX-License-Identifier: GPL-3.0-or-later
// The sleep inhibitor of the job modes against a logind stand-in on a private message bus. A
// program of its own: Qt and libdbus keep the first system bus they find for the whole process.
#include "pipeline/job_test_support.h"
#include "shell/window_bench.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace vantrel::shell {
namespace {

namespace jt = pipeline::testing;

// logind as far as the inhibitor sees it: an Inhibit call for a "sleep:idle" block lock in
// Vantrel's words is answered with the write end of a pipe; the fake keeps the read end, which reads
// the end of file once every copy of the write end is closed. Any other call gets no answer.
class FakeLogind : public QDBusVirtualObject {
public:
    ~FakeLogind() override
    {
        for (const int readEnd : m_readEnds) ::close(readEnd);
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QVariantList asked = {QStringLiteral("sleep:idle"), QStringLiteral("Vantrel"),
                                    QStringLiteral("A camcorder job is running"), QStringLiteral("block")};
        int ends[2];
        const bool isAsked = message.member() == QLatin1String("Inhibit") && message.arguments() == asked;
        if (!isAsked || ::pipe2(ends, O_CLOEXEC) != 0) return false;
        {
            std::lock_guard lock(m_mutex);
            m_readEnds.push_back(ends[0]);
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
        ::close(ends[1]);
        return true;
    }
    std::size_t lockCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_readEnds.size();
    }
    // Whether the holder of lock `index` has closed it, waiting up to `waitMs` for that.
    bool isReleased(std::size_t index, int waitMs) const
    {
        pollfd ready{m_readEnds.at(index), POLLIN, 0};  // no call adds a lock meanwhile
        char byte = 0;
        return ::poll(&ready, 1, waitMs) == 1 && ::read(ready.fd, &byte, 1) == 0;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_readEnds;
};

// A dbus-daemon of our own, named as the system bus for the scope, for FakeLogind. The fake answers
// on a thread of its own: the inhibitor's call blocks the GUI thread.
class PrivateSystemBus {
public:
    PrivateSystemBus()
    {
        // The session bus's configuration lets anyone own and call anything.
        m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                      QStringLiteral("--print-address")});
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
        }
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        m_address.emplace("DBUS_SYSTEM_BUS_ADDRESS", address.toLocal8Bit().constData());
        fake.moveToThread(&m_thread);
        m_thread.start();
    }
    // Puts the fake on the bus as org.freedesktop.login1; whether the bus took it.
    bool startLogind()
    {
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
        return service.registerService(QStringLiteral("org.freedesktop.login1")) &&
               service.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &fake);
    }
    ~PrivateSystemBus()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
        m_daemon.terminate();
        m_daemon.waitForFinished();
        m_thread.quit();
        m_thread.wait();
    }

    QString address;
    FakeLogind fake;

private:
    QProcess m_daemon;
    QThread m_thread;
    std::optional<testsupport::ScopedEnv> m_address;
};

// A capture preview holds a "sleep:idle" block lock; starting the mode anew or closing the window
// lets it go. A bus without logind shows nothing and holds nothing (the other window tests run
// without a system bus).
TEST(SleepInhibitor, holds_a_logind_lock_while_a_job_runs)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed: no private system bus to test on";
    const test::ScratchDir dir("sleep-inhibitor");
    const std::string tape = jt::generateTape(dir.file("tape.dv"), {"--format", "dv", "--frames", "25"});
    jt::ScopedVirtualCamcorder camcorder(tape, false);
    PrivateSystemBus bus;
    auto bench = std::make_unique<testing::WindowBench>();
    const auto startCapture = [&](const char* why) {
        bench->mode(MODE_CAPTURE);
        bench->window->deviceList()->activated(0);  // starts the mode anew
        EXPECT_TRUE(bench->window->jobModes()->isStatusTimerRunning()) << why;
        EXPECT_EQ(bench->part(0), QStringLiteral("Select file and press <Play>")) << why;
        return bench->window->jobModes()->inhibitor().isHeld();
    };
    EXPECT_FALSE(startCapture("a bus without logind"));

    ASSERT_TRUE(bus.startLogind()) << bus.address.toStdString();
    EXPECT_TRUE(startCapture("logind")) << "the lock asked for in Vantrel's words";
    ASSERT_EQ(bus.fake.lockCount(), 1u);
    EXPECT_FALSE(bus.fake.isReleased(0, 0)) << "held while the preview runs";
    EXPECT_TRUE(startCapture("started anew"));
    EXPECT_TRUE(bus.fake.isReleased(0, 10000)) << "the first preview has ended";
    ASSERT_EQ(bus.fake.lockCount(), 2u);
    bench.reset();
    EXPECT_TRUE(bus.fake.isReleased(1, 10000)) << "the closed window lets go";
}

}  // namespace
}  // namespace vantrel::shell
