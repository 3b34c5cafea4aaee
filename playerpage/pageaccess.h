#pragma once
// Who may use the page: the checks every request passes before it is
// served, and the sessions a right password opens.
//
// Host: on a loopback address the request must name this machine itself
// (127.x.y.z, localhost or [::1], with the page's port), so a foreign site
// whose name a resolver points at 127.0.0.1 (DNS rebinding) gets nothing.
// On any other address a password is always set and guards the page;
// there any well-formed Host is taken, since a phone may reach the box by
// a name of its own.
//
// Origin: a request that changes something, and the WebSocket, may come
// without an Origin (programs that are no browser send none) or from the
// page's own origin, "http://" and the Host; a browser always names the
// site a request comes from, so a foreign page's request is refused.
//
// Password: with none set, every request that passes Host and Origin may
// use the page. With one, a right password opens a session: a random token
// of 256 bits in a cookie (HttpOnly, SameSite=Strict, named after the port
// so that two players on one box keep theirs apart) that every later
// request and the WebSocket's handshake must carry. Passwords and tokens
// are compared in constant time. At most MaxSessions are held; a new one
// beyond ends the oldest. Sessions end with the program.

#include "requesthead.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace player {

class PageAccess
{
public:
    static constexpr std::size_t MaxSessions = 32;

    // password: empty for none; port: the page's; loopback: whether the
    // page listens on a loopback address.
    PageAccess(std::string password, int port, bool loopback);

    bool needsPassword() const { return !m_password.empty(); }
    bool hostAllowed(const RequestHead &head) const;
    bool originAllowed(const RequestHead &head) const;
    // Whether the request may use the page: always without a password.
    bool hasSession(const RequestHead &head) const;
    bool passwordMatches(std::string_view typed) const;
    // Opens a session; the value of the Set-Cookie header that hands it out.
    std::string openSession();

private:
    std::string m_password;
    std::string m_cookieName;
    int m_port;
    bool m_loopback;
    std::vector<std::string> m_sessions; // oldest first
};

} // namespace player
