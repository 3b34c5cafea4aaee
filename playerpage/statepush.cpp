#include "statepush.h"

#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>

namespace player {

StatePush::StatePush(std::function<QByteArray()> state, QObject *parent)
    : QObject(parent)
    , m_state(std::move(state))
    , m_server(QStringLiteral("blinkwerk-player"), QWebSocketServer::NonSecureMode)
{
    connect(&m_server, &QWebSocketServer::newConnection, this, &StatePush::joined);
    connect(&m_pinger, &QTimer::timeout, this, &StatePush::ping);
    m_pinger.start(PingEvery);
}

StatePush::~StatePush()
{
    // Each WebSocket before the connection it writes its goodbye to, and
    // none of them telling this any more.
    const std::vector<std::unique_ptr<Client>> clients = std::move(m_clients);
    for (const auto &client : clients) {
        QPointer<QTcpSocket> carrier = client->carrier;
        client->socket->disconnect(this);
        if (carrier)
            carrier->disconnect(this);
        delete client->socket;
        delete carrier.data();
    }
    for (const QPointer<QTcpSocket> &socket : m_handshakes)
        delete socket.data();
}

bool StatePush::full() const
{
    const auto open = std::count_if(m_handshakes.begin(), m_handshakes.end(),
                                    [](const QPointer<QTcpSocket> &socket) { return !socket.isNull(); });
    return int(m_clients.size() + std::size_t(open)) >= MaxClients;
}

void StatePush::adopt(QTcpSocket *socket)
{
    std::erase_if(m_handshakes, [](const QPointer<QTcpSocket> &held) { return held.isNull(); });
    // The server deletes it once it disconnects, before or after the
    // upgrade; this only keeps an eye on it.
    m_handshakes.emplace_back(socket);
    m_server.handleConnection(socket);
}

void StatePush::joined()
{
    while (QWebSocket *socket = m_server.nextPendingConnection()) {
        auto client = std::make_unique<Client>();
        client->socket = socket;
        socket->setParent(this);
        socket->setMaxAllowedIncomingFrameSize(quint64(MaxIncomingBytes));
        socket->setMaxAllowedIncomingMessageSize(quint64(MaxIncomingBytes));
        const auto carrier = std::find_if(m_handshakes.begin(), m_handshakes.end(), [&](const auto &held) {
            return held && held->peerPort() == socket->peerPort() && held->peerAddress() == socket->peerAddress();
        });
        if (carrier != m_handshakes.end()) {
            client->carrier = *carrier;
            m_handshakes.erase(carrier);
            connect(client->carrier, &QTcpSocket::bytesWritten, this, [this, socket] {
                for (const auto &held : m_clients)
                    if (held->socket == socket && held->behind)
                        send(*held);
            });
        }
        // Queued: the list of clients never changes under a loop over it.
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { left(socket); }, Qt::QueuedConnection);
        connect(socket, &QWebSocket::pong, this, [this, socket] {
            for (const auto &held : m_clients)
                if (held->socket == socket)
                    held->answered = true;
        });
        m_clients.push_back(std::move(client));
        if (m_latest.isEmpty())
            m_latest = m_state();
        send(*m_clients.back());
    }
}

void StatePush::left(QWebSocket *socket)
{
    std::erase_if(m_clients, [socket](const auto &client) { return client->socket == socket; });
    socket->deleteLater();
}

void StatePush::changed()
{
    if (m_pushPending)
        return;
    m_pushPending = true;
    QMetaObject::invokeMethod(this, &StatePush::push, Qt::QueuedConnection);
}

void StatePush::push()
{
    m_pushPending = false;
    m_latest = m_state();
    for (const auto &client : m_clients)
        send(*client);
}

void StatePush::send(Client &client)
{
    if (client.carrier && client.carrier->bytesToWrite() > MaxQueuedBytes) {
        client.behind = true;
        return;
    }
    client.behind = false;
    client.socket->sendTextMessage(QString::fromUtf8(m_latest));
}

void StatePush::ping()
{
    std::vector<QPointer<QWebSocket>> silent;
    for (const auto &client : m_clients) {
        if (!client->answered) {
            silent.emplace_back(client->socket);
            continue;
        }
        client->answered = false;
        client->socket->ping();
    }
    // Aborted after the loop: an abort leaves the list at once.
    for (const QPointer<QWebSocket> &socket : silent)
        if (socket)
            socket->abort();
}

} // namespace player
