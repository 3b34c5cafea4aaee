#include "pageaccess.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace player {

namespace {

// Equal in time that depends on the lengths only.
bool sameBytes(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

std::string digest(std::string_view text)
{
    return QCryptographicHash::hash(QByteArray(text.data(), qsizetype(text.size())), QCryptographicHash::Sha256)
        .toStdString();
}

// "name" and port of a Host value; port 80 when none is given. False for
// anything that is no host.
bool splitHost(std::string_view host, std::string_view &name, int &port)
{
    std::size_t colon = std::string_view::npos;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        name = host.substr(0, close + 1);
        if (close + 1 < host.size() && host[close + 1] != ':')
            return false;
        colon = close + 1 < host.size() ? close + 1 : std::string_view::npos;
    } else {
        colon = host.find(':');
        name = host.substr(0, colon);
    }
    port = 80;
    if (colon != std::string_view::npos) {
        const std::string_view digits = host.substr(colon + 1);
        if (digits.empty() || digits.size() > 5
            || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        port = std::stoi(std::string(digits));
    }
    return !name.empty()
           && std::all_of(name.begin(), name.end(), [](char c) {
                  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '['
                         || c == ']' || c == ':' || c == '_';
              });
}

bool isLoopbackName(std::string_view name)
{
    if (name == "localhost" || name == "[::1]")
        return true;
    // 127.0.0.0/8 written as four decimal numbers.
    if (name.substr(0, 4) != "127.")
        return false;
    int dots = 0;
    for (const char c : name) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return false;
    }
    return dots == 3;
}

// The value of cookie name in a Cookie header, or nothing.
std::string_view cookieValue(std::string_view header, std::string_view name)
{
    while (!header.empty()) {
        const std::size_t end = header.find(';');
        std::string_view pair = header.substr(0, end);
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
            return pair.substr(name.size() + 1);
    }
    return {};
}

} // namespace

PageAccess::PageAccess(std::string password, int port, bool loopback)
    : m_password(std::move(password))
    , m_cookieName("blinkwerk-" + std::to_string(port))
    , m_port(port)
    , m_loopback(loopback)
{
}

bool PageAccess::hostAllowed(const RequestHead &head) const
{
    std::string_view name;
    int port = 0;
    if (!head.host || !splitHost(*head.host, name, port))
        return false;
    if (!m_loopback)
        return true;
    return port == m_port && isLoopbackName(name);
}

bool PageAccess::originAllowed(const RequestHead &head) const
{
    return !head.origin || (head.host && *head.origin == "http://" + *head.host);
}

bool PageAccess::hasSession(const RequestHead &head) const
{
    if (m_password.empty())
        return true;
    const std::string_view token = cookieValue(head.cookie, m_cookieName);
    bool found = false;
    for (const std::string &session : m_sessions)
        found |= sameBytes(token, session);
    return found && !token.empty();
}

bool PageAccess::passwordMatches(std::string_view typed) const
{
    // Digests have one length, so the time says nothing of the password's.
    return !m_password.empty() && sameBytes(digest(typed), digest(m_password));
}

std::string PageAccess::openSession()
{
    std::array<quint32, 8> random {};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const std::string token =
        QByteArray(reinterpret_cast<const char *>(random.data()), sizeof random).toHex().toStdString();
    if (m_sessions.size() >= MaxSessions)
        m_sessions.erase(m_sessions.begin());
    m_sessions.push_back(token);
    return m_cookieName + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
}

} // namespace player
