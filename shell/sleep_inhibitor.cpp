// SPDX-License-Identifier: GPL-3.0-or-later
// The logind inhibitor lock over the system bus.
#include "shell/sleep_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace vantrel::shell {

void SleepInhibitor::acquire(const QString& why)
{
    if (m_fd >= 0) return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;  // no system bus: nothing to keep awake
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                       QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"),
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Vantrel") << why << QStringLiteral("block");
    // A short wait: a bus without logind answers at once with an error.
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, 2000);
    if (!reply.isValid() || !reply.value().isValid()) return;
    // The reply's descriptor closes with it; the lock lives as long as our own copy.
    m_fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

void SleepInhibitor::release() noexcept
{
    if (m_fd < 0) return;
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace vantrel::shell
