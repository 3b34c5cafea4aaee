#include "outputsession.h"

#include "deadlinewait.h"
#include "notice.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

namespace portio {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowTicks()
{
    return Clock::now().time_since_epoch().count();
}

// The worker's thread: the sequencer's runs an event loop (the serial and
// network outputs pace and repeat with timers and sockets on it); the
// monitor's a loop of its own that sleeps to every reading's mark, since it
// wakes a hundred times a second for as long as the window is open and
// Qt's timers cost it twice what the reading does.
class WorkerThread final : public QThread
{
public:
    std::function<void()> body;

private:
    void run() override { body ? body() : (void)exec(); }
};

} // namespace

struct OutputSession::Worker
{
    // The port routines' view of the session.
    class Port final : public PortBackend
    {
    public:
        explicit Port(OutputSession::Worker &worker) : m_worker(worker) {}
        void out32(std::int16_t port, std::int16_t value) override
        {
            if (port == Lpt1DataPort)
                m_worker.write(static_cast<std::uint8_t>(value & 0xFF));
        }
        std::int16_t inp32(std::int16_t port) override { return port == Lpt1DataPort ? m_worker.readingNow().byte : 0; }
        std::optional<std::uint8_t> readPort() override
        {
            const Reading reading = m_worker.readingNow();
            return reading.readable ? std::optional<std::uint8_t>(reading.byte) : std::nullopt;
        }

    private:
        OutputSession::Worker &m_worker;
    };

    explicit Worker(SessionSetup s)
        : setup(std::move(s))
        , port(*this)
    {
        context = new QObject;
        context->moveToThread(&thread);
        thread.setObjectName(QStringLiteral("output"));
        if (setup.role == OutputRole::Monitor) {
            thread.body = [this] { readingLoop(); };
            thread.start();
            return;
        }
        thread.start();
        run([this] {
            serviceTimer = new QTimer(context);
            QObject::connect(serviceTimer, &QTimer::timeout, context, [this] { serviceTick(); });
            serviceTimer->start(int(setup.serviceEvery.count()));
        });
    }

    ~Worker()
    {
        if (thread.isRunning())
            endThread();
        delete context;
    }

    void endThread()
    {
        if (setup.role == OutputRole::Monitor) {
            {
                const std::lock_guard lock(loopMutex);
                loopEnds = true;
            }
            loopWait.wake();
        } else {
            thread.quit();
        }
        thread.wait();
    }

    // --- on any thread ------------------------------------------------------

    template<typename F>
    void post(F f)
    {
        QMetaObject::invokeMethod(context, std::move(f), Qt::QueuedConnection);
        if (setup.role == OutputRole::Monitor) {
            {
                const std::lock_guard lock(loopMutex);
                loopWoken = true;
            }
            loopWait.wake();
        }
    }

    template<typename F>
    void run(F f)
    {
        if (QThread::currentThread() == &thread) {
            f();
            return;
        }
        std::promise<void> done;
        post([&] {
            f();
            done.set_value();
        });
        done.get_future().wait();
    }

    void write(std::uint8_t byte)
    {
        if (closed.load() || setup.role != OutputRole::Sequencer)
            return;
        noticeBlockedCall();
        if (direct.load()) {
            const std::lock_guard device(deviceMutex);
            if (binding.backend)
                binding.backend->out32(Lpt1DataPort, byte);
            return;
        }
        newest.store(byte);
        if (!writeQueued.exchange(true))
            post([this] { drainWrite(); });
    }

    // The monitor's last reading; a device that never blocks (a register
    // file) is read at once, for both roles, as a real port would be.
    Reading readingNow()
    {
        noticeBlockedCall();
        if (direct.load()) {
            std::optional<std::uint8_t> got;
            {
                const std::lock_guard device(deviceMutex);
                if (binding.backend)
                    got = binding.backend->readPort();
            }
            const std::lock_guard lock(mutex);
            return got ? Reading {*got, true} : Reading {reading.byte, false};
        }
        const std::lock_guard lock(mutex);
        if (setup.role == OutputRole::Sequencer)
            return {newest.load(), true};
        return reading;
    }

    std::string statusNow() const
    {
        const_cast<Worker *>(this)->noticeBlockedCall();
        const std::lock_guard lock(mutex);
        return blockedSaid.load() ? std::string("blockiert: das Gerät antwortet nicht") : statusText;
    }

    // A device call that has not returned for a while: said once, from
    // whichever thread notices first (never the worker, which is in it).
    void noticeBlockedCall()
    {
        const std::int64_t started = callStarted.load();
        if (started == 0 || blockedSaid.load())
            return;
        const auto running = Clock::duration(nowTicks() - started);
        if (running < setup.sayBlockedAfter || blockedSaid.exchange(true))
            return;
        say("does not answer for more than " + std::to_string(setup.sayBlockedAfter.count())
            + " ms; the program goes on, keeps the newest byte and says when it answers again");
    }

    void say(const std::string &text) const
    {
        const std::lock_guard lock(mutex);
        if (sourceIsLpt1)
            notice(text);
        else
            notice(spec, text);
    }

    // --- on the worker ------------------------------------------------------

    // The monitor's thread: what was posted to it, then a reading at every
    // mark of readEvery and the service at every serviceEvery. A mark missed
    // (the machine was suspended, the device held a read) is not made up
    // for: the next reading is readEvery after the late one.
    void readingLoop()
    {
        const auto every = std::max(setup.readEvery, std::chrono::milliseconds(1));
        const long readsPerService = std::max<long>(1, long(setup.serviceEvery / every));
        long reads = 0;
        Clock::time_point mark = Clock::now();
        std::unique_lock lock(loopMutex);
        while (!loopEnds) {
            const bool woken = std::exchange(loopWoken, false);
            if (!woken && Clock::now() < mark) {
                loopWait.waitUntil(lock, mark);
                continue;
            }
            lock.unlock();
            if (woken)
                QCoreApplication::sendPostedEvents();
            const Clock::time_point now = Clock::now();
            if (now >= mark) {
                if (readsDue.load()) {
                    readTick();
                    if (++reads % readsPerService == 0)
                        serviceTick();
                }
                mark += every;
                if (mark <= now)
                    mark = now + every;
            }
            lock.lock();
        }
    }

    // Runs one call of the device, watched for hanging.
    template<typename F>
    auto call(F f)
    {
        callStarted.store(nowTicks());
        struct Done
        {
            Worker &worker;
            ~Done()
            {
                worker.callStarted.store(0);
                if (worker.blockedSaid.exchange(false))
                    worker.say("answers again");
            }
        } done {*this};
        return f();
    }

    // What the output says for the user now; with deviceMutex held.
    std::string statusOfDevice() const { return binding.backend ? binding.backend->status() : std::string(); }

    // Keeps what the output says for the user (statusOfDevice); the
    // monitor's change handler learns of a change. Without deviceMutex held.
    void noteStatus(std::string text)
    {
        std::function<void()> handler;
        {
            const std::lock_guard lock(mutex);
            if (!reading.readable && setup.role == OutputRole::Monitor)
                text = "kann nicht gelesen werden";
            if (text == statusText)
                return;
            statusText = text;
            handler = onChange;
        }
        if (handler && setup.role == OutputRole::Monitor)
            handler();
    }

    void drainWrite()
    {
        writeQueued.store(false);
        const std::uint8_t byte = newest.load();
        std::string status;
        {
            const std::lock_guard device(deviceMutex);
            if (!binding.backend)
                return;
            call([&] { binding.backend->out32(Lpt1DataPort, byte); });
            status = statusOfDevice();
        }
        noteStatus(std::move(status));
    }

    void serviceTick()
    {
        std::string status;
        {
            const std::lock_guard device(deviceMutex);
            if (!binding.backend)
                return;
            call([&] { binding.backend->service(); });
            status = statusOfDevice();
        }
        noteStatus(std::move(status));
    }

    void readTick()
    {
        std::optional<std::uint8_t> got;
        std::string status;
        {
            const std::lock_guard device(deviceMutex);
            if (!binding.backend)
                return;
            got = call([&] { return binding.backend->readPort(); });
            status = statusOfDevice();
        }
        bool changed = false;
        bool lost = false;
        {
            const std::lock_guard lock(mutex);
            if (got && (*got != reading.byte || !reading.readable)) {
                changed = true;
                reading = {*got, true};
            } else if (!got && reading.readable) {
                changed = lost = true;
                reading.readable = false;
            }
        }
        if (lost)
            say("cannot be read; the lamps keep the last byte known until it can");
        if (changed) {
            std::function<void()> handler;
            {
                const std::lock_guard lock(mutex);
                handler = onChange;
            }
            if (handler)
                handler();
        }
        noteStatus(std::move(status));
    }

    // Takes over a binding: strings for the user, the way writes go, a
    // first reading for the monitor; with startDark a first 0 for the
    // sequencer (a switch: the new output starts dark; at start the
    // program writes its own first byte).
    void install(Binding next, const std::string &outputSpec, bool lpt1, bool startDark)
    {
        {
            const std::lock_guard device(deviceMutex);
            binding = std::move(next);
            direct.store(!binding.mayBlock);
            {
                const std::lock_guard lock(mutex);
                spec = outputSpec;
                sourceIsLpt1 = lpt1;
                statusText.clear();
                servedSpec = binding.spec;
                servedInUse = binding.inUse;
                servedDescription = binding.description;
                servedDevice = binding.device;
            }
            if (startDark && setup.role == OutputRole::Sequencer)
                call([&] { binding.backend->out32(Lpt1DataPort, 0); });
        }
        notice("Output", binding.inUse);
        if (setup.role == OutputRole::Monitor) {
            readTick();
            readsDue.store(true);
        }
        std::string status;
        {
            const std::lock_guard device(deviceMutex);
            status = statusOfDevice();
        }
        noteStatus(std::move(status));
    }

    // The old output gets 0 and lets go of its device (its last tries).
    void release()
    {
        const std::lock_guard device(deviceMutex);
        if (!binding.backend)
            return;
        if (setup.role == OutputRole::Sequencer)
            call([&] { binding.backend->out32(Lpt1DataPort, 0); });
        call([&] { binding.backend.reset(); });
    }

    SessionSetup setup;
    WorkerThread thread;
    QObject *context = nullptr;
    QTimer *serviceTimer = nullptr; // the sequencer's

    // The monitor's loop: woken by what is posted to it and by its end.
    std::mutex loopMutex;
    DeadlineWait loopWait;
    bool loopEnds = false;
    bool loopWoken = false;
    std::atomic<bool> readsDue {false};

    // Every call of binding.backend holds deviceMutex: the worker's, and a
    // caller's direct write to a device that never blocks.
    std::mutex deviceMutex;
    Binding binding;

    mutable std::mutex mutex; // what other threads read
    std::string spec; // as the user named it, for messages
    bool sourceIsLpt1 = true;
    std::string servedSpec, servedInUse, servedDescription, servedDevice;
    std::string statusText;
    Reading reading;
    std::function<void()> onChange;

    std::atomic<bool> direct {false};
    std::atomic<bool> closed {false};
    std::atomic<std::uint8_t> newest {0};
    std::atomic<bool> writeQueued {false};
    std::atomic<std::int64_t> callStarted {0};
    std::atomic<bool> blockedSaid {false};
    bool abandoned = false;
    Port port;
};

OutputSession::OutputSession(SessionSetup setup)
    : m_worker(std::make_unique<Worker>(std::move(setup)))
{
}

OutputSession::~OutputSession()
{
    close();
    // A worker still in a device's last call cannot be ended; the process's
    // end ends it.
    if (m_worker->abandoned)
        (void)m_worker.release();
}

OutputSelection OutputSession::bind(const OutputSpec &spec, bool automatic)
{
    OutputSelection selection;
    m_worker->run([&] {
        Binding binding = bindOutput(m_worker->setup, spec, automatic, selection);
        if (!binding.backend)
            return;
        const bool lpt1 = spec.kind == "lpt1" || binding.spec.rfind(m_worker->setup.fallback.kind + ":", 0) == 0;
        m_worker->install(std::move(binding), m_worker->setup.registry->format(spec), lpt1, false);
    });
    return selection;
}

void OutputSession::select(const OutputSpec &spec, std::function<void(const OutputSelection &)> done)
{
    Worker *worker = m_worker.get();
    worker->post([worker, spec, done = std::move(done)] {
        OutputSelection selection;
        if (worker->closed.load()) {
            selection.outcome = OutputSelection::Refused;
            done(selection);
            return;
        }
        std::string why;
        Claim claim = claimOutput(worker->setup, spec, worker->binding.device, selection, why);
        if (claim.result == Claim::Busy) {
            done(selection);
            return;
        }
        std::unique_ptr<PortLock> kept;
        worker->release();
        if (claim.keepsHeld)
            kept = std::move(worker->binding.lock);
        worker->binding.lock.reset(); // after the old output's 0
        Binding binding = openClaimed(worker->setup, spec, false, std::move(claim), why, selection);
        if (kept && binding.device == worker->binding.device)
            binding.lock = std::move(kept);
        const bool lpt1 = spec.kind == "lpt1" || spec.kind == worker->setup.fallback.kind;
        worker->install(std::move(binding), worker->setup.registry->format(spec), lpt1, true);
        done(selection);
    });
}

void OutputSession::write(std::uint8_t byte)
{
    m_worker->write(byte);
}

OutputSession::Reading OutputSession::read() const
{
    return m_worker->readingNow();
}

void OutputSession::setChangeHandler(std::function<void()> handler)
{
    const std::lock_guard lock(m_worker->mutex);
    m_worker->onChange = std::move(handler);
}

void OutputSession::list(std::function<void(std::vector<OutputEntry>)> done) const
{
    const OutputRegistry *registry = m_worker->setup.registry;
    std::thread([registry, done = std::move(done)] { done(registry->list()); }).detach();
}

void OutputSession::close()
{
    Worker *worker = m_worker.get();
    if (worker->closed.exchange(true))
        return;
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> closing = finished->get_future();
    worker->post([worker, finished] {
        if (worker->serviceTimer)
            worker->serviceTimer->stop();
        worker->readsDue.store(false);
        worker->direct.store(false);
        worker->release();
        finished->set_value();
    });
    if (closing.wait_for(worker->setup.closeWithin) != std::future_status::ready) {
        worker->say("does not let go within " + std::to_string(worker->setup.closeWithin.count())
                    + " ms: its last byte may not have reached it; its lock is kept until the program has ended");
        worker->abandoned = true;
        return;
    }
    worker->endThread();
    worker->binding.lock.reset(); // the last byte is out: another sequencer may have the device now
}

std::string OutputSession::specInUse() const
{
    const std::lock_guard lock(m_worker->mutex);
    return m_worker->servedSpec;
}

std::string OutputSession::inUse() const
{
    const std::lock_guard lock(m_worker->mutex);
    return m_worker->servedInUse;
}

std::string OutputSession::description() const
{
    const std::lock_guard lock(m_worker->mutex);
    return m_worker->servedDescription;
}

std::string OutputSession::device() const
{
    const std::lock_guard lock(m_worker->mutex);
    return m_worker->servedDevice;
}

std::string OutputSession::status() const
{
    return m_worker->statusNow();
}

PortBackend &OutputSession::port()
{
    return m_worker->port;
}

} // namespace portio
