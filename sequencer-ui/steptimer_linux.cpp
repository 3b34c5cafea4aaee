#include "steptimer.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

struct StepTimer::Backend
{
    int fd = -1;
    QSocketNotifier *notifier = nullptr;
};

StepTimer::StepTimer(QObject *parent)
    : QObject(parent)
    , m_backend(std::make_unique<Backend>())
{
    m_backend->fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    // Without a timerfd (never seen on a supported kernel) the timer stays
    // silent rather than ticking wrongly.
    if (m_backend->fd < 0)
        return;
    m_backend->notifier = new QSocketNotifier(m_backend->fd, QSocketNotifier::Read, this);
    m_backend->notifier->setEnabled(false);
    connect(m_backend->notifier, &QSocketNotifier::activated, this, [this] {
        std::uint64_t expirations = 0;
        if (::read(m_backend->fd, &expirations, sizeof expirations) == sizeof expirations && expirations > 0
            && m_active)
            emit timeout();
    });
}

StepTimer::~StepTimer()
{
    if (m_backend->fd >= 0) {
        delete m_backend->notifier;
        ::close(m_backend->fd);
    }
}

void StepTimer::start(int milliseconds)
{
    m_interval = milliseconds;
    m_active = true;
    if (m_backend->fd < 0)
        return;
    // A timerfd with a zero interval would be disarmed; below 1 ms the
    // timer ticks every millisecond.
    const long long ns = std::max(milliseconds, 1) * 1000000LL;
    itimerspec spec {};
    spec.it_interval.tv_sec = ns / 1000000000LL;
    spec.it_interval.tv_nsec = ns % 1000000000LL;
    spec.it_value = spec.it_interval;
    ::timerfd_settime(m_backend->fd, 0, &spec, nullptr);
    std::uint64_t stale = 0;
    [[maybe_unused]] const ssize_t drained = ::read(m_backend->fd, &stale, sizeof stale);
    m_backend->notifier->setEnabled(true);
}

void StepTimer::stop()
{
    m_active = false;
    if (m_backend->fd < 0)
        return;
    const itimerspec off {};
    ::timerfd_settime(m_backend->fd, 0, &off, nullptr);
    m_backend->notifier->setEnabled(false);
}
