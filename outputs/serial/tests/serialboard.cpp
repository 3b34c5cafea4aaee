#include "serialboard.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

namespace {

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

SerialBoard::SerialBoard(Kind kind)
    : m_kind(kind)
{
}

SerialBoard::~SerialBoard()
{
    unplug();
}

bool SerialBoard::plugIn(const std::string &linkPath, std::string &error)
{
    unplug();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        if (master >= 0)
            ::close(master);
        return false;
    }
    const std::string slave = ::ptsname(master);
    // Raw both ways from the start: no echo of the board's answers, no
    // line discipline between the bytes. The settings stay with the pty.
    const int port = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (port >= 0) {
        termios raw{};
        ::tcgetattr(port, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(port, TCSANOW, &raw);
        ::close(port);
    }
    ::unlink(linkPath.c_str());
    if (::symlink(slave.c_str(), linkPath.c_str()) != 0) {
        error = "symlink " + linkPath + ": " + std::strerror(errno);
        ::close(master);
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_relays = 0;
        m_awake = false;
        m_pending.clear();
        m_commands.clear();
        m_commandTimesNs.clear();
        m_badFrames = 0;
        m_changedAtNs = nowNs();
    }
    m_master = master;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void SerialBoard::unplug()
{
    if (m_thread.joinable()) {
        m_stop = true;
        m_thread.join();
    }
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void SerialBoard::run()
{
    std::uint8_t buffer[256];
    while (!m_stop) {
        pollfd fd{m_master, POLLIN, 0};
        const int ready = ::poll(&fd, 1, 10);
        if (ready <= 0)
            continue;
        const long count = ::read(m_master, buffer, sizeof buffer);
        if (count > 0)
            take(buffer, count);
        else // no port side open (EIO): a board waits for its line
            ::usleep(5000);
    }
}

void SerialBoard::take(const std::uint8_t *bytes, long count)
{
    for (long i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (m_kind == Kind::Icse) {
            bool answer = false;
            {
                std::lock_guard lock(m_mutex);
                m_commands.push_back({byte});
                m_commandTimesNs.push_back(nowNs());
                if (m_awake)
                    setRelays(std::uint8_t(~byte));
                else if (byte == 0x50)
                    answer = !m_mute;
                else if (byte == 0x51)
                    m_awake = true;
            }
            if (answer) {
                const std::uint8_t reply = 0xAC;
                (void)!::write(m_master, &reply, 1);
            }
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_pending.push_back(byte);
        while (!m_pending.empty() && m_pending.front() != 0xA0) {
            m_pending.erase(m_pending.begin());
            ++m_badFrames;
        }
        if (m_pending.size() < 4)
            continue;
        const std::uint8_t ch = m_pending[1], st = m_pending[2], sum = m_pending[3];
        if (ch >= 1 && ch <= 8 && st <= 1 && sum == std::uint8_t(0xA0 + ch + st)) {
            m_commands.push_back({m_pending.begin(), m_pending.begin() + 4});
            m_commandTimesNs.push_back(nowNs());
            const auto mask = std::uint8_t(1u << (ch - 1));
            setRelays(std::uint8_t(st ? m_relays | mask : m_relays & ~mask));
            m_pending.erase(m_pending.begin(), m_pending.begin() + 4);
        } else {
            ++m_badFrames;
            m_pending.erase(m_pending.begin());
        }
    }
}

// Called with m_mutex held.
void SerialBoard::setRelays(std::uint8_t relays)
{
    m_relays = relays;
    m_changedAtNs = nowNs();
    if (onChange)
        onChange(relays);
}

std::uint8_t SerialBoard::relays() const
{
    std::lock_guard lock(m_mutex);
    return m_relays;
}

std::vector<std::vector<std::uint8_t>> SerialBoard::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::vector<long long> SerialBoard::commandTimesNs() const
{
    std::lock_guard lock(m_mutex);
    return m_commandTimesNs;
}

int SerialBoard::badFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_badFrames;
}

long long SerialBoard::changedAtNs() const
{
    std::lock_guard lock(m_mutex);
    return m_changedAtNs;
}

} // namespace testsupport
