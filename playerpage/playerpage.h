#pragma once
// The player's page: a phone on the same network starts, stops and edits
// the pattern in a browser. It serves one German page (its HTML, CSS and
// script are compiled in; nothing is fetched from elsewhere), a JSON
// interface the page drives, and a WebSocket that pushes the player's whole
// state after each change, so that every browser shows what the player
// has, and only that.
//
//   GET  /                the page (the login form while a password is
//                         set and the browser has no session)
//   GET  /api/state       the state (statejson.h)
//   POST /api/...         a command (commands.h): 200 and the new state,
//                         or a status and {"error": German sentence};
//                         a refused command changes nothing
//   POST /api/login       {"password": ...}: 204 and a session cookie
//   GET  /ws              the WebSocket
//
// Who may use it is pageaccess.h's to say; what a client may cost,
// httpserver.h's and statepush.h's. While the player follows a universe,
// the page shows the lamps, the universe and its sender, and refuses every
// command with 409.
//
// It lives on the player's thread and drives the player through its own
// operations there; nothing it does blocks, but loading and saving read and
// write one small file, as the window's buttons do.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

namespace player {

class Player;
class Follower;
class HttpConnection;
class HttpServer;
class PageAccess;
class LoginThrottle;
class StatePush;
struct HttpRequest;
struct Reply;
struct Command;

struct PageSettings
{
    std::string address; // an IP address of this machine, or localhost
    int port = 8080;      // 0: any free port (address() tells which)
    std::string password; // empty: none; needed for all but loopback addresses
};

class PlayerPage : public QObject
{
    Q_OBJECT
public:
    // follower: null unless the player follows a universe. Both outlive the page.
    PlayerPage(Player &player, Follower *follower, PageSettings settings, QObject *parent = nullptr);
    ~PlayerPage() override;

    // Starts listening. False with an English reason: an address that is
    // none of this machine's, a port in use or not allowed, a non-loopback
    // address without a password.
    bool listen(std::string &error);
    // Where the page is, as "http://127.0.0.1:8080/".
    std::string address() const;

private:
    void handle(HttpConnection *connection, const HttpRequest &request);
    void serveWebSocket(HttpConnection *connection, const HttpRequest &request);
    void login(HttpConnection *connection, const HttpRequest &request);
    Reply run(const Command &command);
    Reply stateReply(const std::string &message = {}) const;
    QByteArray stateMessage() const;
    void followChanged();

    Player &m_player;
    Follower *m_follower;
    PageSettings m_settings;
    std::unique_ptr<PageAccess> m_access;
    std::unique_ptr<LoginThrottle> m_throttle;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<StatePush> m_push;
    std::uint64_t m_followChanges = 0;
    std::string m_shownSender;
    QTimer m_senderWatch;
};

} // namespace player
