#pragma once
// The page's WebSockets: each client is sent the whole state (statejson.h)
// as one text message when it joins and after every change.
//
// Changes that come faster than the event loop turns are sent once. A
// client that reads slower than states come is skipped while more than
// MaxQueuedBytes wait for it and sent the newest state once it has caught
// up: it misses states, never the last one, and the memory it costs stays
// bounded whatever it does. Clients send nothing the page reads; a message
// above MaxIncomingBytes ends the connection. A client that has not
// answered the last ping when the next is due (PingEvery) is closed, so a
// phone that left the network frees its place. At most MaxClients at once,
// handshakes under way included.
//
// Runs on the thread that made it; nothing of it blocks.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWebSocketServer>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;
class QWebSocket;

namespace player {

class StatePush : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxClients = 16;
    static constexpr qint64 MaxQueuedBytes = 64 * 1024;
    static constexpr qint64 MaxIncomingBytes = 1024;
    static constexpr std::chrono::milliseconds PingEvery {15000};

    // state: the message to send, made when it is sent.
    explicit StatePush(std::function<QByteArray()> state, QObject *parent = nullptr);
    ~StatePush() override;

    bool full() const;
    int clientCount() const { return int(m_clients.size()); }
    // Takes socket, whose WebSocket handshake is unread in it and has
    // passed the page's checks; a handshake that is no valid WebSocket one
    // is refused and the socket closed.
    void adopt(QTcpSocket *socket);
    // Something changed: every client is sent the state soon.
    void changed();

private:
    struct Client
    {
        QWebSocket *socket = nullptr;
        QPointer<QTcpSocket> carrier; // the connection under it, to see what waits
        bool behind = false;          // skipped a state while too much waited
        bool answered = true;         // the last ping was answered
    };
    void joined();
    void left(QWebSocket *socket);
    void send(Client &client);
    void push();
    void ping();

    std::function<QByteArray()> m_state;
    QWebSocketServer m_server;
    std::vector<QPointer<QTcpSocket>> m_handshakes;
    std::vector<std::unique_ptr<Client>> m_clients;
    QByteArray m_latest;
    bool m_pushPending = false;
    QTimer m_pinger;
};

} // namespace player
