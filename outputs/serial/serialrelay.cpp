#include "serialrelay.h"

#include "notice.h"
#include "portbackend.h"
#include "serialrelayprotocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace portio {

namespace {

constexpr int ReopenEveryMs = 1000;
constexpr int AnswerWithinMs = 1000;
// The destructor's whole budget for the last 0, beyond the wake-up answer.
constexpr int LastZeroWithinMs = 1000;

class SerialRelay final : public PortBackend
{
public:
    explicit SerialRelay(const OutputSpec &spec)
        : m_source(serialSpecText(spec))
        , m_icse(spec.protocol == OutputSpec::SerialProtocol::Icse)
        , m_port(QString::fromStdString(spec.path))
    {
        m_pacer.setSingleShot(true);
        m_pacer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_pacer, &QTimer::timeout, [this] { pump(); });
        m_answerTimer.setSingleShot(true);
        QObject::connect(&m_answerTimer, &QTimer::timeout, [this] { answered(QByteArray()); });
        QObject::connect(&m_port, &QSerialPort::readyRead, [this] { answered(m_port.readAll()); });
        QObject::connect(&m_port, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError error) {
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError)
                lose(m_port.errorString().toStdString());
        });
        m_retry.start();
    }

    ~SerialRelay() override
    {
        m_pacer.stop();
        m_answerTimer.stop();
        QObject::disconnect(&m_port, nullptr, nullptr, nullptr);
        m_byte = 0;
        std::string why;
        if (!m_open && openPort(why))
            begin();
        if (m_open)
            sendLastZero();
        m_port.close();
    }

    // Opens the port; false with the reason in why.
    bool openPort(std::string &why)
    {
        m_port.setBaudRate(QSerialPort::Baud9600);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!m_port.open(QIODevice::ReadWrite)) {
            const std::string path = m_port.portName().toStdString();
            const std::string text = m_port.errorString().toStdString();
            if (m_port.error() == QSerialPort::PermissionError)
                why = "no permission to open " + path + " (" + text + "): " + serialAccessHint(path);
            else if (m_port.error() == QSerialPort::DeviceNotFoundError)
                why = "no serial port " + path;
            else
                why = "cannot open " + path + ": " + text;
            return false;
        }
        m_port.clear();
        m_open = true;
        return true;
    }

    // A freshly opened board: nothing about its relays is known.
    void begin()
    {
        m_lcus.forget();
        m_icseSent.reset();
        m_lastSend.invalidate();
        if (m_icse) {
            m_stage = Stage::Waking;
            if (send(QByteArray(1, char(IcseProbe))))
                m_answerTimer.start(AnswerWithinMs);
        } else {
            m_stage = Stage::Running;
            pump();
        }
    }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port != Lpt1DataPort)
            return;
        m_byte = std::uint8_t(value & 0xFF);
        pump();
    }

    std::int16_t inp32(std::int16_t port) override { return port == Lpt1DataPort ? m_byte : 0; }

    void service() override
    {
        if (m_open || m_retry.elapsed() < ReopenEveryMs)
            return;
        m_retry.restart();
        std::string why;
        if (!openPort(why))
            return;
        notice(m_source, "found again; sending the newest byte");
        m_lostSaid = false;
        begin();
    }

    std::string status() const override
    {
        return m_open ? "zeigt das zuletzt Gesendete" : "Karte getrennt; zeigt das zuletzt Gesendete";
    }

private:
    enum class Stage { Waking, Starting, Running };

    // The bytes due now: one LCUS frame, or ICSE's start or state byte.
    QByteArray nextBytes()
    {
        if (!m_icse) {
            m_lcus.want(m_byte);
            const auto frame = m_lcus.next();
            return frame ? QByteArray(reinterpret_cast<const char *>(frame->data()), int(frame->size())) : QByteArray();
        }
        if (m_stage == Stage::Starting) {
            m_stage = Stage::Running;
            return QByteArray(1, char(IcseStart));
        }
        if (m_stage == Stage::Running && m_icseSent != m_byte) {
            m_icseSent = m_byte;
            return QByteArray(1, char(icseByte(m_byte)));
        }
        return {};
    }

    // Sends what is due when the pause since the last send has passed, else
    // comes back when it has; never more than one frame per pause.
    void pump()
    {
        if (!m_open || m_stage == Stage::Waking)
            return;
        const bool paused = m_lastSend.isValid() && m_lastSend.elapsed() < SerialRelayGapMs;
        if (paused) {
            if (!m_pacer.isActive())
                m_pacer.start(int(SerialRelayGapMs - m_lastSend.elapsed()));
            return;
        }
        // The pause is over even if its timer has not come round yet.
        const QByteArray bytes = nextBytes();
        if (!bytes.isEmpty() && send(bytes))
            m_pacer.start(SerialRelayGapMs);
    }

    bool send(const QByteArray &bytes)
    {
        if (m_port.write(bytes) != bytes.size()) {
            lose("write failed: " + m_port.errorString().toStdString());
            return false;
        }
        m_port.flush();
        m_lastSend.start();
        return m_open;
    }

    // The ICSE board's answer to the wake-up, or an empty one when it did
    // not answer in time.
    void answered(const QByteArray &bytes)
    {
        if (m_stage != Stage::Waking || !m_open)
            return;
        m_answerTimer.stop();
        if (bytes.contains(char(IcseAnswer))) {
            if (m_answerSaid)
                notice(m_source, "the board answers its wake-up again");
            m_answerSaid = false;
        } else if (!m_answerSaid) {
            char text[120];
            if (bytes.isEmpty())
                std::snprintf(text, sizeof text, "no answer to the wake-up 0x50 within %d ms; driving the board anyway",
                              AnswerWithinMs);
            else
                std::snprintf(text, sizeof text, "answered 0x%02X to the wake-up 0x50 instead of 0xAC; driving the board anyway",
                              unsigned(std::uint8_t(bytes.at(0))));
            notice(m_source, text);
            m_answerSaid = true;
        }
        m_stage = Stage::Starting;
        pump();
    }

    void lose(const std::string &reason)
    {
        if (!m_open)
            return;
        m_open = false;
        m_pacer.stop();
        m_answerTimer.stop();
        m_port.close();
        m_retry.restart();
        if (!m_lostSaid)
            notice(m_source, "lost (" + reason + "); keeping the newest byte and looking for the board every second");
        m_lostSaid = true;
    }

    // The destructor's 0: waits for a wake-up answer still due, then sends
    // what is due, paced, within a bounded time.
    void sendLastZero()
    {
        if (m_stage == Stage::Waking) {
            if (m_port.waitForReadyRead(AnswerWithinMs))
                m_port.readAll();
            m_stage = Stage::Starting;
        }
        QElapsedTimer budget;
        budget.start();
        while (m_open && budget.elapsed() < LastZeroWithinMs) {
            if (m_lastSend.isValid() && m_lastSend.elapsed() < SerialRelayGapMs)
                QThread::msleep(unsigned(SerialRelayGapMs - m_lastSend.elapsed()));
            const QByteArray bytes = nextBytes();
            if (bytes.isEmpty())
                break;
            if (!send(bytes))
                break;
            m_port.waitForBytesWritten(200);
        }
        // The board takes the last frame in before the line is dropped.
        if (m_open && m_port.bytesToWrite() > 0)
            m_port.waitForBytesWritten(200);
    }

    const std::string m_source;
    const bool m_icse;
    QSerialPort m_port;
    QTimer m_pacer;
    QTimer m_answerTimer;
    QElapsedTimer m_lastSend;
    QElapsedTimer m_retry;
    LcusRelays m_lcus;
    std::optional<std::uint8_t> m_icseSent;
    Stage m_stage = Stage::Running;
    std::uint8_t m_byte = 0;
    bool m_open = false;
    bool m_lostSaid = false;
    bool m_answerSaid = false;
};

} // namespace

std::unique_ptr<PortBackend> openSerialRelayOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    if (role == OutputRole::Monitor) {
        whyNot = "a serial relay board cannot be read back; the monitor shows what blinkwerk sends it";
        return nullptr;
    }
    auto relay = std::make_unique<SerialRelay>(spec);
    if (!relay->openPort(whyNot))
        return nullptr;
    relay->begin();
    return relay;
}

OutputEntry serialRelayEntry(const std::string &location, const std::string &portName, const std::string &description,
                             const std::string &manufacturer)
{
    OutputSpec spec;
    spec.kind = "serial";
    // A device path where the platform has one (/dev/ttyUSB0), else the
    // port's name (COM3).
    spec.path = !location.empty() && location.front() == '/' ? location : portName;
    std::string about;
    for (const std::string &part : {description, manufacturer})
        if (!part.empty() && part != about)
            about += (about.empty() ? "" : ", ") + part;
    std::string text = "Serielle Relaiskarte an " + spec.path;
    if (!about.empty())
        text += " (" + about + ")";
    return {serialSpecText(spec), text};
}

void listSerialRelayOutputs(std::vector<OutputEntry> &entries)
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        entries.push_back(serialRelayEntry(info.systemLocation().toStdString(), info.portName().toStdString(),
                                           info.description().trimmed().toStdString(),
                                           info.manufacturer().trimmed().toStdString()));
}

} // namespace portio
