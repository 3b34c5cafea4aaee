#pragma once
// Slows down guessing the page's password, per client, in bounded memory.
// Free of Qt and of clocks: the caller says what time it is, and the caller
// waits (with a timer, never by sleeping).
//
// A wrong password costs its client a delay before the answer, 1 s for the
// first, doubled with each further one in a row, at most MaxDelay; until
// that delay has passed, any further try from the client is not checked at
// all (the caller refuses it with 429), so parallel connections guess no
// faster than one. A right password forgets the client. A client whose last
// wrong password lies ForgetAfter back starts again at 1 s.
//
// Clients are keys the caller makes from the peer's address (one for a
// whole IPv6 /64, which one device may fill). At most MaxClients are held;
// when a new one comes to a full table, the one held longest without a
// wrong password makes room.

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace player {

class LoginThrottle
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t MaxClients = 256;
    static constexpr std::chrono::milliseconds FirstDelay {1000};
    static constexpr std::chrono::milliseconds MaxDelay {30000};
    static constexpr std::chrono::minutes ForgetAfter {15};

    // How long client must still wait before a try is checked; zero: now.
    std::chrono::milliseconds waitFor(const std::string &client, Clock::time_point now) const;
    // A wrong password from client at now: the delay before it is answered,
    // which holds off the client's next try as well.
    std::chrono::milliseconds failed(const std::string &client, Clock::time_point now);
    void succeeded(const std::string &client);

    std::size_t clientCount() const { return m_clients.size(); }

private:
    struct Client
    {
        int failures = 0;
        Clock::time_point lastFailure;
        Clock::time_point blockedUntil;
    };
    std::map<std::string, Client> m_clients;
};

} // namespace player
