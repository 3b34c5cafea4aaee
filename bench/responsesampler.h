#pragma once

// How long an event posted to an object's thread waits for that thread's
// event loop: one is posted every 20 ms from a thread of its own, from
// construction until stop(). The samples (ms) are taken on the object's
// thread; those still queued when the sampler is gone land in storage that
// outlives it.

#include "stats.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace bench {

class ResponseSampler
{
public:
    explicit ResponseSampler(QObject *target)
        : m_thread([this, target] {
            while (m_sampling.load()) {
                const long long posted = nowNs();
                QMetaObject::invokeMethod(
                    target, [samples = m_samples, posted] { samples->push_back(double(nowNs() - posted) / 1e6); },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        })
    {
    }
    ~ResponseSampler() { stop(); }

    void stop()
    {
        m_sampling = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Read on the target's thread.
    const std::vector<double> &samples() const { return *m_samples; }

private:
    std::atomic<bool> m_sampling {true};
    std::shared_ptr<std::vector<double>> m_samples = std::make_shared<std::vector<double>>();
    std::thread m_thread; // last: it starts once the rest is there
};

} // namespace bench
