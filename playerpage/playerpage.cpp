#include "playerpage.h"

#include "commands.h"
#include "filepanel.h"
#include "filerules.h"
#include "follower.h"
#include "httpserver.h"
#include "loginthrottle.h"
#include "outputname.h"
#include "pageaccess.h"
#include "player.h"
#include "statejson.h"
#include "statepush.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <algorithm>
#include <array>

namespace player {

namespace {

constexpr const char *Json = "application/json; charset=utf-8";

// The page's files, compiled in from page/.
struct PageFile
{
    const char *path;
    const char *resource;
    const char *type;
    bool needsSession; // the login form's own files are given to anybody
};

constexpr std::array<PageFile, 4> PageFiles = {{
    {"/", ":/playerpage/index.html", "text/html; charset=utf-8", true},
    {"/page.js", ":/playerpage/page.js", "text/javascript; charset=utf-8", true},
    {"/page.css", ":/playerpage/page.css", "text/css; charset=utf-8", false},
    {"/login.js", ":/playerpage/login.js", "text/javascript; charset=utf-8", false},
}};

QByteArray resource(const char *name)
{
    QFile file(QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Reply fileReply(const char *resourceName, const char *type)
{
    return {200, type, resource(resourceName), {}};
}

// One client for the login's throttle: an IPv4 address, or an IPv6 /64.
std::string clientKey(const QHostAddress &peer)
{
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString().toStdString();
    const Q_IPV6ADDR v6 = peer.toIPv6Address();
    return QByteArray(reinterpret_cast<const char *>(v6.c), 8).toHex().toStdString() + "::/64";
}

bool isJsonType(const std::optional<std::string> &type)
{
    if (!type)
        return false;
    std::string media = type->substr(0, type->find(';'));
    media.erase(media.find_last_not_of(" \t") + 1);
    return media == "application/json";
}

} // namespace

PlayerPage::PlayerPage(Player &player, Follower *follower, PageSettings settings, QObject *parent)
    : QObject(parent)
    , m_player(player)
    , m_follower(follower)
    , m_settings(std::move(settings))
    , m_throttle(std::make_unique<LoginThrottle>())
{
    m_server = std::make_unique<HttpServer>(
        [this](HttpConnection *connection, const HttpRequest &request) { handle(connection, request); });
    m_push = std::make_unique<StatePush>([this] { return stateMessage(); });
    connect(&m_player, &Player::changed, m_push.get(), &StatePush::changed);
    if (m_follower) {
        connect(m_follower, &Follower::changed, this, &PlayerPage::followChanged);
        // "kein Sender" comes by time, not by a byte: looked for once a second.
        m_shownSender = m_follower->sender();
        connect(&m_senderWatch, &QTimer::timeout, this, [this] {
            if (m_follower->sender() != m_shownSender)
                followChanged();
        });
        m_senderWatch.start(1000);
    }
}

PlayerPage::~PlayerPage() = default;

bool PlayerPage::listen(std::string &error)
{
    QHostAddress address;
    if (m_settings.address == "localhost")
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(QString::fromStdString(m_settings.address))) {
        error = "cannot listen on " + m_settings.address
                + ": the page listens on an IP address of this machine, as 127.0.0.1 or 192.168.1.20";
        return false;
    }
    if (!address.isLoopback() && m_settings.password.empty()) {
        error = "listening on " + m_settings.address + " lets the whole network in: a password is needed";
        return false;
    }
    if (m_settings.port < 0 || m_settings.port > 65535) {
        error = "port " + std::to_string(m_settings.port) + " is no TCP port";
        return false;
    }
    if (!m_server->listen(address, quint16(m_settings.port), error))
        return false;
    m_access = std::make_unique<PageAccess>(m_settings.password, int(m_server->port()), address.isLoopback());
    return true;
}

std::string PlayerPage::address() const
{
    const bool v6 = m_settings.address.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + m_settings.address + "]" : m_settings.address) + ":"
           + std::to_string(m_server->port()) + "/";
}

QByteArray PlayerPage::stateMessage() const
{
    std::optional<FollowView> follow;
    if (m_follower)
        follow = FollowView {m_follower->source(), m_follower->sender(), m_follower->lamps(), m_followChanges};
    return stateJson(m_player.state(), follow, !m_settings.password.empty());
}

Reply PlayerPage::stateReply(const std::string &message) const
{
    QByteArray body = stateMessage();
    if (!message.empty()) {
        QJsonObject object = QJsonDocument::fromJson(body).object();
        object["message"] = QString::fromStdString(message);
        body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    return {200, Json, body, {}};
}

void PlayerPage::followChanged()
{
    ++m_followChanges;
    m_shownSender = m_follower->sender();
    m_push->changed();
}

void PlayerPage::handle(HttpConnection *connection, const HttpRequest &request)
{
    const RequestHead &head = request.head;
    if (!head.host) {
        connection->respond(errorReply(400, "Die Anfrage nennt keinen Host."));
        return;
    }
    if (!m_access->hostAllowed(head)) {
        connection->respond(errorReply(403, "Diese Seite antwortet nur unter ihrer eigenen Adresse."));
        return;
    }

    const PageFile *file = nullptr;
    for (const PageFile &candidate : PageFiles)
        if (head.path == candidate.path)
            file = &candidate;
    const std::optional<Command::Kind> command = commandAt(head.path);
    const bool isState = head.path == "/api/state";
    const bool isSocket = head.path == "/ws";
    const bool isLogin = command == Command::Kind::Login;
    if ((!file && !command && !isState && !isSocket) || (isLogin && !m_access->needsPassword())) {
        connection->respond(errorReply(404, "Diese Adresse gibt es hier nicht."));
        return;
    }
    const char *method = command ? "POST" : "GET";
    if (head.method != method) {
        Reply refusal = errorReply(405, "Diese Adresse nimmt nur " + std::string(method) + " an.");
        refusal.headers.emplace_back("Allow", method);
        connection->respond(refusal);
        return;
    }
    if ((command || isSocket) && !m_access->originAllowed(head)) {
        connection->respond(errorReply(403, "Befehle von einer anderen Seite werden nicht angenommen."));
        return;
    }
    if (command && !isJsonType(head.contentType)) {
        connection->respond(errorReply(415, "Befehle kommen als JSON (Content-Type: application/json)."));
        return;
    }
    if (isLogin) {
        login(connection, request);
        return;
    }
    if (!m_access->hasSession(head) && !(file && !file->needsSession)) {
        if (head.path == "/")
            connection->respond(fileReply(":/playerpage/login.html", "text/html; charset=utf-8"));
        else
            connection->respond(errorReply(401, "Bitte zuerst mit dem Passwort anmelden."));
        return;
    }

    if (file) {
        connection->respond(fileReply(file->resource, file->type));
    } else if (isState) {
        connection->respond(stateReply());
    } else if (isSocket) {
        serveWebSocket(connection, request);
    } else {
        const std::variant<Command, Refusal> decoded = decodeCommand(*command, request.body);
        if (const Refusal *refusal = std::get_if<Refusal>(&decoded))
            connection->respond(errorReply(refusal->status, refusal->text));
        else
            connection->respond(run(std::get<Command>(decoded)));
    }
}

void PlayerPage::serveWebSocket(HttpConnection *connection, const HttpRequest &request)
{
    if (!request.head.upgradeWebSocket) {
        connection->respond(errorReply(400, "Hier wird nur eine WebSocket-Verbindung angenommen."));
        return;
    }
    if (m_push->full()) {
        connection->respond(errorReply(503, "Zu viele Browser sind gerade mit dem Player verbunden."));
        return;
    }
    if (QTcpSocket *socket = connection->takeSocket())
        m_push->adopt(socket);
}

void PlayerPage::login(HttpConnection *connection, const HttpRequest &request)
{
    const std::string client = clientKey(request.peer);
    const auto now = LoginThrottle::Clock::now();
    if (const auto wait = m_throttle->waitFor(client, now); wait.count() > 0) {
        const long long seconds = (wait.count() + 999) / 1000;
        Reply refusal = errorReply(429, "Zu viele falsche Passwörter. Bitte in " + std::to_string(seconds)
                                            + " s noch einmal versuchen.");
        refusal.headers.emplace_back("Retry-After", QByteArray::number(seconds));
        connection->respond(refusal);
        return;
    }
    const std::variant<Command, Refusal> decoded = decodeCommand(Command::Kind::Login, request.body);
    if (const Refusal *refusal = std::get_if<Refusal>(&decoded)) {
        connection->respond(errorReply(refusal->status, refusal->text));
        return;
    }
    if (m_access->passwordMatches(std::get<Command>(decoded).text)) {
        m_throttle->succeeded(client);
        connection->respond({204, {}, {}, {{"Set-Cookie", QByteArray::fromStdString(m_access->openSession())}}});
        return;
    }
    // The answer waits on a timer, and so does every further try of the
    // client; the event loop goes on meanwhile.
    const auto delay = m_throttle->failed(client, now);
    QTimer::singleShot(delay, Qt::PreciseTimer, this, [answer = QPointer<HttpConnection>(connection)] {
        if (answer)
            answer->respond(errorReply(401, "Falsches Passwort."));
    });
}

Reply PlayerPage::run(const Command &command)
{
    if (m_follower)
        return errorReply(409, "Der Player folgt einem Universum; Muster und Ablauf lassen sich hier nicht ändern.");
    switch (command.kind) {
    case Command::Kind::Start:
        m_player.start();
        break;
    case Command::Kind::Stop:
        m_player.stop();
        break;
    case Command::Kind::Cell:
        m_player.clickCell(command.channel, command.step);
        break;
    case Command::Kind::FirstStep:
        m_player.setFirstStep(command.step);
        break;
    case Command::Kind::LastStep:
        m_player.setLastStep(command.step);
        break;
    case Command::Kind::StepTime:
        m_player.setStepTime(command.position);
        break;
    case Command::Kind::Load: {
        const std::vector<std::string> names = patterns::FilePanel::listPatternFiles(m_player.folder().folder);
        if (std::find(names.begin(), names.end(), command.text) == names.end())
            return errorReply(404, "Das Muster \"" + command.text + "\" gibt es im Ordner des Players nicht.");
        std::string error;
        // A file with faults loads what it can, as in the window: a change
        // all the same, with the loader's sentence.
        if (!m_player.load(command.text, error))
            return stateReply(error);
        break;
    }
    case Command::Kind::Save: {
        if (!portio::spectext::withoutControlCharacters(command.text))
            return errorReply(400, "Der Name darf keine Steuerzeichen enthalten. Es wurde nichts gespeichert.");
        // The name rules and the length of a file name are the caller's
        // fault (400); anything else the folder's (500). The player's own
        // save says which sentence, and writes nothing for a refused name.
        const bool refused = command.text.empty() || patterns::filerules::nameRefusal(command.text)
                             || command.text.size() + 4 > 255;
        if (const std::optional<std::string> failed = m_player.save(command.text))
            return errorReply(refused ? 400 : 500, *failed);
        break;
    }
    case Command::Kind::Login:
        break;
    }
    return stateReply();
}

} // namespace player
