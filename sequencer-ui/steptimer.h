#pragma once
// The step timer: emits timeout() every interval() milliseconds while
// active, on the thread that owns it, as an event of its event loop.
//
// Its ticks keep to a fixed schedule: tick n comes interval * n after
// start(), however late the tick before it was handled, so the steps do not
// drift; a tick handled late by more than a whole interval is not made up
// (the skipped ticks are dropped, as QTimer does). start() while active
// begins the schedule anew from now.
//
// Linux has its own backend on a timerfd, whose expiries wake the event
// loop to within the kernel's timer slack; Qt's own timers round their
// waits to whole milliseconds, which puts a tick up to a millisecond beside
// its due time. Elsewhere the backend is a QTimer of type Qt::PreciseTimer.

#include <QObject>

#include <memory>

class StepTimer : public QObject
{
    Q_OBJECT
public:
    explicit StepTimer(QObject *parent = nullptr);
    ~StepTimer() override;

    void start(int milliseconds);
    void stop();
    bool isActive() const { return m_active; }
    int interval() const { return m_interval; }

signals:
    void timeout();

private:
    struct Backend;
    std::unique_ptr<Backend> m_backend;
    int m_interval = 0;
    bool m_active = false;
};
