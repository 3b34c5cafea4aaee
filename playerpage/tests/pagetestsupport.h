#pragma once
// What the page's tests share: a real blinkwerk-player started on a
// register file with a configuration of its own, and a client that speaks
// raw HTTP to it over a socket, so that malformed and oversized requests go
// out exactly as written.

#include "posixtestsupport.h"
#include "programprocess_posix.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <algorithm>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace pagetest {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A port nobody listens on now (the kernel's pick for a socket bound to 0).
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// blinkwerk-player with --config file.
class PlayerProcess : public testsupport::ProgramProcess
{
public:
    explicit PlayerProcess(const fs::path &config)
        : ProgramProcess(PLAYER_PROGRAM, {"--config", config.string()})
    {
    }
    // Waits (bounded) until the page is up; whether it is.
    bool ready() const
    {
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < until) {
            if (err().find("Player: page at") != std::string::npos)
                return true;
            if (!running())
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    // Ends it with SIGTERM, or without a signal waits for it to end by
    // itself; its exit status.
    int end(bool signal = true) { return ProgramProcess::end(signal ? SIGTERM : 0); }
};

struct Answer
{
    int status = 0; // 0: no answer
    std::string head;
    std::string body;
    std::string header(const std::string &name) const
    {
        const std::string key = "\r\n" + name + ": ";
        const std::size_t at = head.find(key);
        return at == std::string::npos ? std::string()
                                       : head.substr(at + key.size(), head.find("\r\n", at + key.size()) - at - key.size());
    }
    QJsonObject json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object(); }
};

inline int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(port));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads from fd until the peer closes, until until returns true for what
// came, or until the time is up; what is there already is read at once.
inline std::string readFrom(int fd, std::chrono::milliseconds timeout,
                            const std::function<bool(const std::string &)> &until = {})
{
    std::string got;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!(until && until(got))) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::clamp<long long>(left.count(), 0, 50))) > 0) {
            char buffer[16384];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            got.append(buffer, std::size_t(n));
        } else if (left.count() <= 0) {
            break;
        }
    }
    return got;
}

inline Answer parseAnswer(const std::string &raw)
{
    Answer answer;
    const std::size_t end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos)
        return answer;
    answer.status = std::stoi(raw.substr(9, 3));
    answer.head = raw.substr(0, end + 2);
    answer.body = raw.substr(end + 4);
    return answer;
}

// Sends raw as written and reads the answer up to the server's close.
inline Answer ask(int port, const std::string &raw)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    ::send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
    const Answer answer = parseAnswer(readFrom(fd, 20s));
    ::close(fd);
    return answer;
}

// A well-formed request: Host the page's own, a JSON body for a POST.
inline std::string request(int port, const std::string &method, const std::string &path, const std::string &body = {},
                           const std::string &extraHeaders = {})
{
    std::string raw = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    if (method == "POST")
        raw += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    return raw + extraHeaders + "\r\n" + body;
}

// A WebSocket handshake for /ws as a browser sends it, with extra headers.
inline std::string handshake(int port, const std::string &extraHeaders = {})
{
    return "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
           + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           + extraHeaders + "\r\n";
}

// The handshake's answer and, on 101, the first message's text in body.
inline Answer openSocket(int port, const std::string &extraHeaders = {})
{
    const int fd = connectTo(port);
    ::send(fd, handshake(port, extraHeaders).c_str(), handshake(port, extraHeaders).size(), MSG_NOSIGNAL);
    const std::string raw = readFrom(fd, 20s, [](const std::string &got) {
        return got.rfind("HTTP/1.1 101", 0) == 0 ? got.find("\"version\"") != std::string::npos
                                                 : false;
    });
    ::close(fd);
    return parseAnswer(raw);
}

} // namespace pagetest
