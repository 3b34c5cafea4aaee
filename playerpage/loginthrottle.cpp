#include "loginthrottle.h"

#include <algorithm>

namespace player {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

milliseconds LoginThrottle::waitFor(const std::string &client, Clock::time_point now) const
{
    const auto found = m_clients.find(client);
    if (found == m_clients.end() || found->second.blockedUntil <= now)
        return milliseconds(0);
    // Rounded up: a wait of 0.4 ms is still a wait.
    return std::chrono::ceil<milliseconds>(found->second.blockedUntil - now);
}

milliseconds LoginThrottle::failed(const std::string &client, Clock::time_point now)
{
    auto found = m_clients.find(client);
    if (found != m_clients.end() && now - found->second.lastFailure >= ForgetAfter)
        found->second.failures = 0;
    if (found == m_clients.end()) {
        if (m_clients.size() >= MaxClients) {
            const auto oldest = std::min_element(m_clients.begin(), m_clients.end(), [](const auto &a, const auto &b) {
                return a.second.lastFailure < b.second.lastFailure;
            });
            m_clients.erase(oldest);
        }
        found = m_clients.emplace(client, Client{}).first;
    }
    Client &entry = found->second;
    entry.failures = std::min(entry.failures + 1, 16); // 2^15 s is far beyond MaxDelay
    const milliseconds delay = std::min(MaxDelay, FirstDelay * (1 << (entry.failures - 1)));
    entry.lastFailure = now;
    entry.blockedUntil = now + delay;
    return delay;
}

void LoginThrottle::succeeded(const std::string &client)
{
    m_clients.erase(client);
}

} // namespace player
