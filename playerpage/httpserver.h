#pragma once
// The page's HTTP/1.1 server: small, and bounded in every way a client
// could stretch it, since it reads what anybody on the network sends.
//
// Each connection carries one request and is closed after the answer
// ("Connection: close"). The server reads the head (requesthead.h) and at
// most MaxBodyBytes of body, counted by Content-Length; a body without a
// length (Transfer-Encoding) is refused with 501, a POST without one with
// 411, a longer one with 413 before any of it is read. What the socket holds
// is capped by its read buffer, so a client that sends without end costs
// ReadBufferBytes, not its body. A request that has not arrived whole after
// RequestTimeout is answered 408. At most MaxConnections are open at once;
// one beyond is closed at once (the WebSockets that connections become are
// counted elsewhere).
//
// After the answer the server stops sending, reads and drops what the
// client still sends for at most LingerTime, then closes: so a client that
// is still sending a refused body reads its answer instead of a reset.
//
// Refusals of the server itself carry a German sentence as JSON
// ({"error": "..."}), as the page's own do. Everything runs on the thread
// that made the server, and nothing of it blocks.

#include "requesthead.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QTcpSocket;

namespace player {

struct HttpRequest
{
    RequestHead head;
    std::string body;
    QHostAddress peer;
};

struct Reply
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers; // beyond the server's own
};

// A JSON answer {"error": text}.
Reply errorReply(int status, const std::string &text);

class HttpConnection : public QObject
{
    Q_OBJECT
public:
    HttpConnection(QTcpSocket *socket, QObject *parent);

    // Answers the request and ends the connection; only the first answer
    // counts. May come later than the handler's return (from a timer).
    void respond(const Reply &reply);
    // Hands the socket over with the request's head still unread in it (a
    // WebSocket handshake, which the taker reads); this connection ends.
    QTcpSocket *takeSocket();

signals:
    void request(HttpConnection *connection, const HttpRequest &request);
    void ended();

private:
    enum class Stage { Head, Body, Answering, Sending, Lingering, Over };
    void readable();
    void readHead();
    void readBody();
    void written();
    void stopSending();
    void end();

    QTcpSocket *m_socket;
    QTimer m_deadline;
    Stage m_stage = Stage::Head;
    HttpRequest m_request;
};

class HttpServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxConnections = 32;
    static constexpr std::size_t MaxBodyBytes = 4096;
    static constexpr qint64 ReadBufferBytes = 16 * 1024;
    static constexpr std::chrono::milliseconds RequestTimeout {10000};
    static constexpr std::chrono::milliseconds AnswerTimeout {60000}; // a delayed answer's longest wait
    static constexpr std::chrono::milliseconds LingerTime {2000};

    using Handler = std::function<void(HttpConnection *connection, const HttpRequest &request)>;
    explicit HttpServer(Handler handler, QObject *parent = nullptr);

    // Binds address:port (0: any free one); false with an English reason.
    bool listen(const QHostAddress &address, quint16 port, std::string &error);
    quint16 port() const { return m_server.serverPort(); }
    int connectionCount() const { return m_connections; }

private:
    void accept();

    Handler m_handler;
    QTcpServer m_server;
    int m_connections = 0;
};

} // namespace player
