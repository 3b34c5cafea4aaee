#include "httpserver.h"

#include "halfclose.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <algorithm>

namespace player {

namespace {

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Status";
    }
}

std::string headRefusalText(int status)
{
    switch (status) {
    case 414: return "Die Adresse der Anfrage ist zu lang.";
    case 431: return "Die Kopfzeilen der Anfrage sind zu groß.";
    case 505: return "Nur HTTP/1.1 wird verstanden.";
    default: return "Die Anfrage ist fehlerhaft.";
    }
}

} // namespace

Reply errorReply(int status, const std::string &text)
{
    const QJsonObject object {{"error", QString::fromStdString(text)}};
    return {status, "application/json; charset=utf-8", QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

HttpConnection::HttpConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(HttpServer::ReadBufferBytes);
    m_request.peer = m_socket->peerAddress();
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::readable);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::written);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::end);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_stage == Stage::Head || m_stage == Stage::Body)
            respond(errorReply(408, "Die Anfrage kam nicht rechtzeitig ganz an."));
        else
            end();
    });
    m_deadline.start(HttpServer::RequestTimeout);
    // Bytes may have come before the connection was made.
    QMetaObject::invokeMethod(this, &HttpConnection::readable, Qt::QueuedConnection);
}

void HttpConnection::readable()
{
    if (m_stage == Stage::Head)
        readHead();
    if (m_stage == Stage::Body)
        readBody();
    // Past the request: what else comes is dropped, never kept.
    if (m_stage != Stage::Head && m_stage != Stage::Body && m_stage != Stage::Over && m_socket->bytesAvailable() > 0
        && !(m_stage == Stage::Answering && m_request.head.upgradeWebSocket))
        m_socket->skip(m_socket->bytesAvailable());
}

void HttpConnection::readHead()
{
    const QByteArray bytes = m_socket->peek(qint64(MaxHeadBytes));
    const HeadParse parse = parseRequestHead(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (parse.outcome == HeadParse::Outcome::Incomplete)
        return;
    if (parse.outcome == HeadParse::Outcome::Refused) {
        respond(errorReply(parse.status, headRefusalText(parse.status)));
        return;
    }
    m_request.head = parse.head;
    const RequestHead &head = m_request.head;
    if (head.transferEncoding) {
        respond(errorReply(501, "Ein Inhalt ohne Längenangabe (Transfer-Encoding) wird nicht angenommen."));
        return;
    }
    if (head.contentLength.value_or(0) > HttpServer::MaxBodyBytes) {
        respond(errorReply(413, "Der Inhalt der Anfrage ist zu groß (höchstens "
                                    + std::to_string(HttpServer::MaxBodyBytes) + " Bytes)."));
        return;
    }
    if (head.method == "POST" && !head.contentLength) {
        respond(errorReply(411, "Die Anfrage nennt die Länge ihres Inhalts nicht."));
        return;
    }
    if (head.method == "GET" && head.upgradeWebSocket) {
        // The handshake stays in the socket for whoever takes it.
        if (head.contentLength.value_or(0) != 0) {
            respond(errorReply(400, "Die Anfrage ist fehlerhaft."));
            return;
        }
        m_stage = Stage::Answering;
        m_deadline.start(HttpServer::AnswerTimeout);
        emit request(this, m_request);
        return;
    }
    m_socket->skip(qint64(head.length));
    m_stage = Stage::Body;
}

void HttpConnection::readBody()
{
    const qint64 length = qint64(m_request.head.contentLength.value_or(0));
    if (m_socket->bytesAvailable() < length)
        return;
    m_request.body = m_socket->read(length).toStdString();
    m_stage = Stage::Answering;
    m_deadline.start(HttpServer::AnswerTimeout);
    emit request(this, m_request);
}

void HttpConnection::respond(const Reply &reply)
{
    if (m_stage != Stage::Head && m_stage != Stage::Body && m_stage != Stage::Answering)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) + "\r\n";
    if (!reply.contentType.isEmpty())
        out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += "Connection: close\r\n"
           "Cache-Control: no-store\r\n"
           "X-Content-Type-Options: nosniff\r\n"
           "X-Frame-Options: DENY\r\n"
           "Referrer-Policy: no-referrer\r\n"
           "Content-Security-Policy: default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
           "base-uri 'none'; form-action 'none'\r\n";
    for (const auto &[name, value] : reply.headers)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
    if (m_request.head.method != "HEAD")
        out += reply.body;
    m_stage = Stage::Sending;
    m_deadline.start(HttpServer::RequestTimeout);
    m_socket->write(out);
    readable(); // drops what came meanwhile
}

void HttpConnection::written()
{
    if (m_stage == Stage::Sending && m_socket->bytesToWrite() == 0)
        stopSending();
}

void HttpConnection::stopSending()
{
    m_stage = Stage::Lingering;
    if (!stopSendingOn(m_socket->socketDescriptor())) {
        end();
        return;
    }
    m_deadline.start(HttpServer::LingerTime);
}

QTcpSocket *HttpConnection::takeSocket()
{
    QTcpSocket *socket = m_socket;
    if (!socket || m_stage != Stage::Answering)
        return nullptr;
    socket->disconnect(this);
    socket->setParent(nullptr);
    m_socket = nullptr;
    m_stage = Stage::Over;
    m_deadline.stop();
    emit ended();
    deleteLater();
    return socket;
}

void HttpConnection::end()
{
    if (m_stage == Stage::Over)
        return;
    m_stage = Stage::Over;
    m_deadline.stop();
    m_socket->disconnect(this);
    m_socket->abort();
    emit ended();
    deleteLater();
}

HttpServer::HttpServer(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port, std::string &error)
{
    if (m_server.listen(address, port))
        return true;
    const std::string where = (address.protocol() == QAbstractSocket::IPv6Protocol
                                   ? "[" + address.toString().toStdString() + "]"
                                   : address.toString().toStdString())
                              + ":" + std::to_string(port);
    switch (m_server.serverError()) {
    case QAbstractSocket::AddressInUseError:
        error = "cannot listen on " + where + ": the port is in use by another program";
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        error = "cannot listen on " + where + ": " + address.toString().toStdString()
                + " is not an address of this machine";
        break;
    case QAbstractSocket::SocketAccessError:
        error = "cannot listen on " + where + ": ports below 1024 need privileges this program does not have";
        break;
    default:
        error = "cannot listen on " + where + ": " + m_server.errorString().toStdString();
    }
    return false;
}

void HttpServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_connections >= MaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        auto *connection = new HttpConnection(socket, this);
        connect(connection, &HttpConnection::ended, this, [this] { --m_connections; });
        connect(connection, &HttpConnection::request, this,
                [this](HttpConnection *from, const HttpRequest &request) { m_handler(from, request); });
    }
}

} // namespace player
