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

// logind as far as the inhibitor sees it: Inhibit answers with the write end of a pipe and keeps
// the read end, which reads the end of file once every copy of the write end is closed.
class FakeLogind : public QDBusVirtualObject {
public:
    struct Lock {
        QStringList arguments;  // what, who, why, mode
        int readEnd;
    };
    ~FakeLogind() override
    {
        for (const Lock& lock : m_locks) ::close(lock.readEnd);
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        int ends[2];
        if (message.member() != QLatin1String("Inhibit") || ::pipe2(ends, O_CLOEXEC) != 0) return false;
        QStringList arguments;
        for (const QVariant& argument : message.arguments()) arguments << argument.toString();
        {
            std::lock_guard lock(m_mutex);
            m_locks.push_back({arguments, ends[0]});
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
        ::close(ends[1]);
        return true;
    }
    std::vector<Lock> locks() const
    {
        std::lock_guard lock(m_mutex);
        return m_locks;
    }
    // Whether the lock's holder has closed it, waiting up to `waitMs` for that.
    static bool isReleased(const Lock& lock, int waitMs)
    {
        pollfd ready{lock.readEnd, POLLIN, 0};
        char byte = 0;
        return ::poll(&ready, 1, waitMs) == 1 && ::read(lock.readEnd, &byte, 1) == 0;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Lock> m_locks;
};

// A dbus-daemon of our own, named as the system bus for the scope, for FakeLogind. The fake answers
// on a thread of its own: the inhibitor's call blocks the GUI thread.
class PrivateSystemBus {
public:
    explicit PrivateSystemBus(const test::ScratchDir& dir)
    {
        const std::string config = dir.file("bus.conf");
        std::ofstream(config) << "<busconfig><listen>unix:dir=" << dir.path().string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                                 "<allow own=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/></policy></busconfig>\n";
        const QString configOption = QStringLiteral("--config-file=") + QString::fromStdString(config);
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--nofork"), QStringLiteral("--print-address"), configOption});
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
    // Ends the bus; the program's connection to it drops.
    void stop()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }
    ~PrivateSystemBus()
    {
        stop();
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

// A capture preview or a print holds a "sleep:idle" block lock; starting the mode anew or closing
// the window lets it go. A bus without logind, or no bus, shows nothing and holds nothing.
TEST(SleepInhibitor, holds_a_logind_lock_while_a_job_runs)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed: no private system bus to test on";
    const test::ScratchDir dir("sleep-inhibitor");
    const std::string tape = jt::generateTape(dir.file("tape.dv"), {"--format", "dv", "--frames", "25"});
    const std::string list = jt::generateTape(dir.file("list.avi"), {"--frames", "10"});
    jt::ScopedVirtualCamcorder camcorder(tape, false);
    PrivateSystemBus bus(dir);
    auto bench = std::make_unique<testing::WindowBench>();
    const auto startMode = [&](WorkingMode mode) {
        bench->mode(mode);
        bench->window->deviceList()->activated(0);  // starts the mode anew
    };
    const auto expectSilent = [&](const char* why) {
        startMode(MODE_CAPTURE);
        EXPECT_TRUE(bench->window->jobModes()->isStatusTimerRunning()) << why;
        EXPECT_FALSE(bench->window->jobModes()->inhibitor().isHeld()) << why;
        EXPECT_EQ(bench->part(0), QStringLiteral("Select file and press <Play>")) << why;
    };
    expectSilent("a bus without logind");

    ASSERT_TRUE(bus.startLogind()) << bus.address.toStdString();
    const QStringList asked = {QStringLiteral("sleep:idle"), QStringLiteral("Vantrel"),
                               QStringLiteral("A camcorder job is running"), QStringLiteral("block")};
    startMode(MODE_CAPTURE);
    ASSERT_EQ(bus.fake.locks().size(), 1u);
    EXPECT_EQ(bus.fake.locks()[0].arguments, asked);
    EXPECT_FALSE(FakeLogind::isReleased(bus.fake.locks()[0], 0)) << "held while the preview runs";
    startMode(MODE_PRINT_TO_TAPE);
    EXPECT_TRUE(FakeLogind::isReleased(bus.fake.locks()[0], 10000)) << "the capture has ended";

    bench->choose({QString::fromStdString(list)});
    bench->command(command::kPlay);
    ASSERT_EQ(bus.fake.locks().size(), 2u) << bench->part(0).toStdString();
    EXPECT_EQ(bus.fake.locks()[1].arguments, asked);
    EXPECT_FALSE(FakeLogind::isReleased(bus.fake.locks()[1], 0)) << "held while printing";
    bench = std::make_unique<testing::WindowBench>();
    EXPECT_TRUE(FakeLogind::isReleased(bus.fake.locks()[1], 10000)) << "the closed window lets go";

    bus.stop();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QDBusConnection::systemBus().isConnected(); }, 10000));
    expectSilent("no bus");
    EXPECT_EQ(bus.fake.locks().size(), 2u);
}

}  // namespace
}  // namespace vantrel::shell
