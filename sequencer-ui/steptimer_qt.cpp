#include "steptimer.h"

#include <QTimer>

struct StepTimer::Backend
{
    QTimer *timer = nullptr;
};

StepTimer::StepTimer(QObject *parent)
    : QObject(parent)
    , m_backend(std::make_unique<Backend>())
{
    m_backend->timer = new QTimer(this);
    m_backend->timer->setTimerType(Qt::PreciseTimer);
    connect(m_backend->timer, &QTimer::timeout, this, &StepTimer::timeout);
}

StepTimer::~StepTimer() = default;

void StepTimer::start(int milliseconds)
{
    m_interval = milliseconds;
    m_active = true;
    m_backend->timer->start(milliseconds);
}

void StepTimer::stop()
{
    m_active = false;
    m_backend->timer->stop();
}
