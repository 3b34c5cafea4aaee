#include "realtimekit.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariant>

#include <algorithm>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace blinkwerk {

namespace {

const char *const Service = "org.freedesktop.RealtimeKit1";
const char *const Path = "/org/freedesktop/RealtimeKit1";
// As the sequencer asks for itself with SCHED_FIFO.
constexpr int WantedPriority = 10;

} // namespace

bool askRealtimeKit(std::string &said)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        said = "RealtimeKit: no system bus";
        return false;
    }
    QDBusInterface properties(Service, Path, "org.freedesktop.DBus.Properties", bus);
    QDBusInterface kit(Service, Path, Service, bus);
    properties.setTimeout(1000);
    kit.setTimeout(1000);
    const QDBusReply<QVariant> maxPriority = properties.call("Get", Service, "MaxRealtimePriority");
    const QDBusReply<QVariant> maxRtTime = properties.call("Get", Service, "RTTimeUSecMax");
    if (!maxPriority.isValid() || !maxRtTime.isValid()) {
        said = "RealtimeKit: " + (maxPriority.isValid() ? maxRtTime : maxPriority).error().message().toStdString();
        return false;
    }
    // The daemon grants nothing to a process that could keep a core for
    // ever: its realtime time must be limited first.
    const rlim_t limit = rlim_t(maxRtTime.value().toLongLong());
    rlimit rtTime {limit, limit};
    if (::setrlimit(RLIMIT_RTTIME, &rtTime) != 0) {
        said = "RealtimeKit: cannot limit RLIMIT_RTTIME";
        return false;
    }
    const int priority = std::min(WantedPriority, maxPriority.value().toInt());
    const QDBusMessage reply = kit.call("MakeThreadRealtime", quint64(::syscall(SYS_gettid)), quint32(priority));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        said = "RealtimeKit: " + reply.errorMessage().toStdString();
        return false;
    }
    said = "realtime priority " + std::to_string(priority) + " (granted by RealtimeKit)";
    return true;
}

} // namespace blinkwerk
