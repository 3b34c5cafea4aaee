// The page's HTTP interface without a browser, against a real
// blinkwerk-player on a register file: each command's answer and its effect
// on the state, the register and the pattern folder; bad input refused with
// a clear status and nothing changed; the password; and a flood that neither
// stops the steps nor grows the player's memory.

#include "pagetestsupport.h"

#include "loginthrottle.h"

#include <QJsonArray>

#include <fstream>
#include <map>
#include <memory>
#include <set>

using namespace pagetest;
using testsupport::heldEveryByte;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// Channel k + 1 on in step k + 1 (and step k + 9): a running light, 100 ms a step.
std::string runningLight()
{
    std::string cells(160, '0');
    for (int step = 0; step < 20; ++step)
        cells[std::size_t((step % 8) * 20 + step)] = '1';
    return cells + "|20|1|2\r\n";
}

const std::set<int> RunningLight {1, 2, 4, 8, 16, 32, 64, 128};

// A player of its own folder: pat/ holds lauf.bw2 and kaputt.bw2 (with
// faults); x.bw2 lies beside pat/, outside the player's folder.
struct Box
{
    explicit Box(const std::string &tag, const std::string &extraConfig = {})
        : dir(tag)
        , port(freePort())
    {
        fs::create_directory(dir / "pat");
        writeFile(dir / "pat" / "lauf.bw2", runningLight());
        writeFile(dir / "pat" / "kaputt.bw2", "0123|x\r\n");
        writeFile(dir / "x.bw2", std::string(160, '1') + "|20|1|0\r\n");
        writeFile(dir / "player.conf", "output = register:" + (dir / "reg").string() + "\npatterns = "
                                           + (dir / "pat").string() + "\npattern = lauf.bw2\nlisten = 127.0.0.1:"
                                           + std::to_string(port) + "\n" + extraConfig);
        player = std::make_unique<PlayerProcess>(dir / "player.conf");
    }
    ScratchDir dir;
    int port;
    std::unique_ptr<PlayerProcess> player;
};

// What a refused request must leave alone: the state but for what the
// steps move, and every file of the box but the register and the log.
struct Snapshot
{
    QJsonObject state;
    std::map<std::string, std::string> files;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(const Box &box)
{
    Snapshot shot;
    const Answer answer = ask(box.port, request(box.port, "GET", "/api/state"));
    shot.state = answer.json();
    for (const char *live : {"version", "progress", "lamps"})
        shot.state.remove(QString::fromLatin1(live));
    for (const auto &entry : fs::recursive_directory_iterator(box.dir.path())) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name != "reg" && name != "log")
            shot.files[entry.path().string()] = readFile(entry.path());
    }
    return shot;
}

int cell(const QJsonObject &state, int channel, int step)
{
    return state["cells"].toArray()[channel - 1].toArray()[step - 1].toInt();
}

bool lists(const QJsonObject &state, const char *name)
{
    return state["patterns"].toArray().contains(QString::fromLatin1(name));
}

// A POST whose head announces 50 MB and whose body follows as fast as the
// server takes it, until the answer comes; the answer.
Answer hugeBody(int port)
{
    const int fd = connectTo(port);
    const std::string head = "POST /api/save HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
                             + "\r\nContent-Type: application/json\r\nContent-Length: 52428800\r\n\r\n";
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    const std::string chunk(65536, 'x');
    std::string raw;
    for (int sent = 0; sent < 800 && raw.empty(); ++sent) {
        pollfd out {fd, POLLOUT, 0};
        if (::poll(&out, 1, 1000) > 0 && ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0
            && errno != EAGAIN)
            break;
        raw = readFrom(fd, 0ms);
    }
    raw += readFrom(fd, 20s);
    ::close(fd);
    return parseAnswer(raw);
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

TEST(PlayerPage, answersEachRequestAndTheStateShowsIt)
{
    Box box("page-answers");
    ASSERT_TRUE(box.player->ready()) << box.player->err();
    const int port = box.port;
    struct Case
    {
        const char *method;
        const char *path;
        std::string body;
        int status;
        std::function<void(const Answer &)> check;
    };
    const Case cases[] = {
        {"GET", "/", "", 200, [](const Answer &a) {
             EXPECT_EQ(a.header("Content-Type"), "text/html; charset=utf-8");
             EXPECT_NE(a.body.find("<script src=\"/page.js\""), std::string::npos);
         }},
        {"GET", "/page.js", "", 200, [](const Answer &a) { EXPECT_NE(a.body.find("/api/cell"), std::string::npos); }},
        {"GET", "/page.css", "", 200, [](const Answer &a) { EXPECT_NE(a.body.find(".lamp"), std::string::npos); }},
        {"GET", "/api/state", "", 200, [](const Answer &a) {
             EXPECT_TRUE(a.json()["running"].toBool());
             EXPECT_EQ(a.json()["pattern"].toString(), "lauf.bw2");
             EXPECT_EQ(a.json()["stepTimePosition"].toInt(), 2);
             EXPECT_EQ(a.json()["stepTimes"].toArray().size(), 11);
             EXPECT_EQ(cell(a.json(), 3, 3), 1);
             EXPECT_FALSE(a.json()["protected"].toBool());
         }},
        {"POST", "/api/stop", "{}", 200, [](const Answer &a) {
             EXPECT_FALSE(a.json()["running"].toBool());
             EXPECT_EQ(a.json()["lamps"].toInt(), 0);
         }},
        {"POST", "/api/cell", R"({"channel":1,"step":2})", 200,
         [](const Answer &a) { EXPECT_EQ(cell(a.json(), 1, 2), 1); }},
        {"POST", "/api/cell", R"({"channel":1,"step":2})", 200,
         [](const Answer &a) { EXPECT_EQ(cell(a.json(), 1, 2), 0); }},
        {"POST", "/api/cell", R"({"channel":2,"step":1})", 200,
         [](const Answer &a) { EXPECT_EQ(cell(a.json(), 2, 1), 1); }},
        {"POST", "/api/first", R"({"step":4})", 200, [](const Answer &a) { EXPECT_EQ(a.json()["firstStep"].toInt(), 4); }},
        {"POST", "/api/last", R"({"step":15})", 200, [](const Answer &a) { EXPECT_EQ(a.json()["lastStep"].toInt(), 15); }},
        // The bar moved gives way; the other one stays.
        {"POST", "/api/last", R"({"step":3})", 200, [](const Answer &a) {
             EXPECT_EQ(a.json()["firstStep"].toInt(), 4);
             EXPECT_GT(a.json()["lastStep"].toInt(), 4);
         }},
        {"POST", "/api/first", R"({"step":1})", 200, [](const Answer &a) { EXPECT_EQ(a.json()["firstStep"].toInt(), 1); }},
        {"POST", "/api/last", R"({"step":20})", 200, [](const Answer &a) { EXPECT_EQ(a.json()["lastStep"].toInt(), 20); }},
        {"POST", "/api/step-time", R"({"position":0})", 200, [](const Answer &a) {
             EXPECT_EQ(a.json()["stepTimePosition"].toInt(), 0);
             EXPECT_EQ(a.json()["intervalMs"].toInt(), 50);
         }},
        {"POST", "/api/save", R"({"name":"neu"})", 200, [&](const Answer &a) {
             EXPECT_TRUE(lists(a.json(), "neu.bw2"));
             EXPECT_EQ(a.json()["pattern"].toString(), "neu.bw2");
             EXPECT_EQ(readFile(box.dir / "pat" / "neu.bw2").substr(0, 21), "100000001000000010001");
         }},
        {"POST", "/api/load", R"({"name":"kaputt.bw2"})", 200, [](const Answer &a) {
             EXPECT_EQ(a.json()["message"].toString(), "Syntaxerror in Datei kaputt.bw2");
         }},
        {"POST", "/api/load", R"({"name":"lauf.bw2"})", 200, [](const Answer &a) {
             EXPECT_EQ(a.json()["pattern"].toString(), "lauf.bw2");
             EXPECT_EQ(cell(a.json(), 2, 1), 0);
             EXPECT_EQ(a.json()["stepTimePosition"].toInt(), 2);
         }},
        {"POST", "/api/start", "", 200, [](const Answer &a) { EXPECT_TRUE(a.json()["running"].toBool()); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body);
        const Answer answer = ask(port, request(port, c.method, c.path, c.body));
        EXPECT_EQ(answer.status, c.status) << answer.body;
        EXPECT_EQ(answer.header("Connection"), "close");
        c.check(answer);
    }
    // Started again, it plays the loaded pattern on the output.
    EXPECT_TRUE(heldEveryByte(box.dir / "reg", RunningLight)) << box.player->err();

    // The WebSocket greets with the whole state.
    const Answer socket = openSocket(port, "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n");
    EXPECT_EQ(socket.status, 101) << socket.head;
    EXPECT_NE(socket.body.find("\"cells\""), std::string::npos);
    EXPECT_EQ(box.player->end(), 0) << box.player->err();
}

TEST(PlayerPage, refusesBadInputWithAClearStatusAndChangesNothing)
{
    Box box("page-refusals");
    ASSERT_TRUE(box.player->ready()) << box.player->err();
    const int p = box.port;
    const std::string host = "127.0.0.1:" + std::to_string(p);
    const auto post = [p](const std::string &path, const std::string &body, const std::string &headers = {}) {
        return request(p, "POST", path, body, headers);
    };
    struct Case
    {
        const char *what;
        std::string raw;
        int status;
    };
    const Case cases[] = {
        {"malformed JSON", post("/api/cell", R"({"channel":1,)"), 400},
        {"not an object", post("/api/cell", "[1,2]"), 400},
        {"empty body", post("/api/cell", ""), 400},
        {"a number as text", post("/api/cell", R"({"channel":"1","step":2})"), 400},
        {"a fraction", post("/api/cell", R"({"channel":1.5,"step":2})"), 400},
        {"a boolean", post("/api/first", R"({"step":true})"), 400},
        {"channel 9", post("/api/cell", R"({"channel":9,"step":1})"), 400},
        {"channel 0", post("/api/cell", R"({"channel":0,"step":1})"), 400},
        {"step 21", post("/api/first", R"({"step":21})"), 400},
        {"step time 11", post("/api/step-time", R"({"position":11})"), 400},
        {"a field too many", post("/api/cell", R"({"channel":1,"step":1,"x":1})"), 400},
        {"a field missing", post("/api/cell", R"({"channel":1})"), 400},
        {"a field on start", post("/api/start", R"({"now":true})"), 400},
        {"a body over 4096 bytes", post("/api/save", R"({"name":")" + std::string(5000, 'a') + "\"}"), 413},
        {"a name over 1024 bytes", post("/api/save", R"({"name":")" + std::string(2000, 'a') + "\"}"), 400},
        {"an unknown pattern", post("/api/load", R"({"name":"fehlt.bw2"})"), 404},
        {"a pattern beside the folder", post("/api/load", R"({"name":"../x.bw2"})"), 404},
        {"a path to load", post("/api/load", R"({"name":"/etc/passwd"})"), 404},
        {"a name as number", post("/api/load", R"({"name":7})"), 400},
        {"a save beside the folder", post("/api/save", R"({"name":"../x"})"), 400},
        {"a save to a path", post("/api/save", R"({"name":"/etc/passwd"})"), 400},
        {"a hidden name", post("/api/save", R"({"name":".x"})"), 400},
        {"an empty name", post("/api/save", R"({"name":""})"), 400},
        {"a line break in a name", post("/api/save", R"({"name":"a\nb"})"), 400},
        {"a name too long for a file", post("/api/save", R"({"name":")" + std::string(300, 'a') + "\"}"), 400},
        {"text, not JSON", "POST /api/start HTTP/1.1\r\nHost: " + host
                               + "\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\n{}",
         415},
        {"no content type", "POST /api/start HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 2\r\n\r\n{}", 415},
        {"GET on a command", request(p, "GET", "/api/cell"), 405},
        {"POST on the state", post("/api/state", "{}"), 405},
        {"an unknown address", request(p, "GET", "/api/nothing"), 404},
        {"login without a password", post("/api/login", R"({"password":"x"})"), 404},
        {"a foreign origin", post("/api/start", "{}", "Origin: http://evil.example\r\n"), 403},
        {"the origin null", post("/api/start", "{}", "Origin: null\r\n"), 403},
        {"a foreign host", "POST /api/start HTTP/1.1\r\nHost: evil.example:" + std::to_string(p)
                               + "\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}",
         403},
        {"another port", "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:1\r\n\r\n", 403},
        {"no host", "GET /api/state HTTP/1.1\r\n\r\n", 400},
        {"two hosts", "GET /api/state HTTP/1.1\r\nHost: " + host + "\r\nHost: " + host + "\r\n\r\n", 400},
        {"a malformed request line", "GARBAGE\r\n\r\n", 400},
        {"a bare line feed", "GET /api/state HTTP/1.1\nHost: " + host + "\n\n\r\n\r\n", 400},
        {"HTTP/2", "GET / HTTP/2.0\r\nHost: " + host + "\r\n\r\n", 505},
        {"a target too long", request(p, "GET", "/" + std::string(3000, 'a')), 414},
        {"a head too large", request(p, "GET", "/api/state", "", "X-Fill: " + std::string(9000, 'a') + "\r\n"), 431},
        {"a chunked body", "POST /api/start HTTP/1.1\r\nHost: " + host
                               + "\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
         501},
        {"no length", "POST /api/start HTTP/1.1\r\nHost: " + host + "\r\nContent-Type: application/json\r\n\r\n{}", 411},
        {"two lengths", "POST /api/start HTTP/1.1\r\nHost: " + host
                            + "\r\nContent-Type: application/json\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\n{}",
         400},
        {"a WebSocket from a foreign page", handshake(p, "Origin: http://evil.example\r\n"), 403},
        {"a WebSocket without upgrade", request(p, "GET", "/ws"), 400},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Snapshot before = snapshot(box);
        const Answer answer = ask(p, c.raw);
        EXPECT_EQ(answer.status, c.status) << answer.head << answer.body;
        EXPECT_FALSE(answer.json()["error"].toString().isEmpty()) << "a German sentence for the page: " << answer.body;
        EXPECT_TRUE(snapshot(box) == before) << "nothing changed";
    }
    EXPECT_FALSE(fs::exists(box.dir / "pat" / "x.bw2"));
    EXPECT_EQ(box.player->end(), 0) << box.player->err();
}

TEST(PlayerPage, aPasswordGuardsEveryRequestAndWrongOnesAreSlowedDown)
{
    Box box("page-password", "password = geheim-42\n");
    ASSERT_TRUE(box.player->ready()) << box.player->err();
    const int p = box.port;
    const std::string origin = "Origin: http://127.0.0.1:" + std::to_string(p) + "\r\n";
    const auto login = [&](const std::string &password) {
        return ask(p, request(p, "POST", "/api/login", R"({"password":")" + password + "\"}", origin));
    };

    struct Case
    {
        const char *what;
        std::string raw;
        int status;
    };
    const Case locked[] = {
        {"the state", request(p, "GET", "/api/state"), 401},
        {"the page's script", request(p, "GET", "/page.js"), 401},
        {"a command", request(p, "POST", "/api/stop", "{}"), 401},
        {"the WebSocket", handshake(p, origin), 401},
        {"a made-up session", request(p, "GET", "/api/state", "", "Cookie: blinkwerk-" + std::to_string(p) + "=00ff\r\n"),
         401},
    };
    for (const Case &c : locked) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ask(p, c.raw).status, c.status);
    }
    const Answer form = ask(p, request(p, "GET", "/"));
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.body.find("Passwort:"), std::string::npos);
    EXPECT_NE(form.body.find("nicht verschlüsselt"), std::string::npos);
    EXPECT_EQ(form.body.find("page.js"), std::string::npos);

    // A wrong password is answered after a delay; while it waits, even the
    // right one from the same client is not checked.
    const int waiting = connectTo(p);
    const std::string wrong = request(p, "POST", "/api/login", R"({"password":"falsch"})", origin);
    const auto sent = std::chrono::steady_clock::now();
    ::send(waiting, wrong.data(), wrong.size(), MSG_NOSIGNAL);
    const Answer meanwhile = login("geheim-42");
    const bool inTime = std::chrono::steady_clock::now() - sent < player::LoginThrottle::FirstDelay;
    const Answer refused = parseAnswer(readFrom(waiting, 60s));
    ::close(waiting);
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.json()["error"].toString(), "Falsches Passwort.");
    if (inTime) {
        EXPECT_EQ(meanwhile.status, 429) << meanwhile.body;
        EXPECT_FALSE(meanwhile.header("Retry-After").empty());
    }

    // The delay is over once its answer has come; a loaded machine may
    // still be a moment behind, which Retry-After says.
    Answer opened = login("geheim-42");
    for (int retry = 0; retry < 3 && opened.status == 429; ++retry) {
        std::this_thread::sleep_for(std::chrono::seconds(std::stoi(opened.header("Retry-After"))));
        opened = login("geheim-42");
    }
    ASSERT_EQ(opened.status, 204) << opened.body;
    const std::string cookie = opened.header("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    const std::string session = "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\n";
    const Answer state = ask(p, request(p, "GET", "/api/state", "", session));
    EXPECT_EQ(state.status, 200);
    EXPECT_TRUE(state.json()["running"].toBool()) << "the refused stop changed nothing";
    EXPECT_TRUE(state.json()["protected"].toBool());
    EXPECT_EQ(ask(p, request(p, "GET", "/", "", session)).body.find("Passwort:"), std::string::npos);
    EXPECT_EQ(openSocket(p, origin + session).status, 101);
    EXPECT_EQ(box.player->end(), 0) << box.player->err();
}

TEST(PlayerPage, aFloodOrAHugeBodyNeitherStopsTheStepsNorGrowsMemory)
{
    Box box("page-flood");
    ASSERT_TRUE(box.player->ready()) << box.player->err();
    const int p = box.port;
    // Every kind of request once before the count, so that what the
    // first of each costs (code paged in, Qt's own caches) is not counted.
    ASSERT_EQ(ask(p, request(p, "GET", "/api/state")).status, 200);
    ASSERT_EQ(openSocket(p).status, 101);
    ASSERT_EQ(hugeBody(p).status, 413);
    const long before = residentKiB(box.player->pid());
    std::set<int> seen;
    const auto look = [&] {
        const std::string byte = readFile(box.dir / "reg");
        if (byte.size() == 1)
            seen.insert(static_cast<unsigned char>(byte[0]));
    };

    // A client that never finishes its head holds its connection only
    // until the server's time for a request is up.
    const int slow = connectTo(p);
    ::send(slow, "GET /api/state HTTP/1.1\r\nHo", 29, MSG_NOSIGNAL);

    // 2000 requests, good and bad, one after the other.
    const std::string kinds[] = {request(p, "GET", "/api/state"), request(p, "POST", "/api/cell", "{]"),
                                 request(p, "GET", "/nothing"), request(p, "POST", "/api/load", R"({"name":"no.bw2"})")};
    int answered = 0;
    for (int i = 0; i < 2000; ++i) {
        answered += ask(p, kinds[i % 4]).status != 0;
        if (i % 50 == 0)
            look();
    }
    EXPECT_EQ(answered, 2000);

    // 40 WebSockets at once: the server takes 16.
    std::vector<int> sockets;
    int upgraded = 0, full = 0;
    for (int i = 0; i < 40; ++i) {
        const int fd = connectTo(p);
        const std::string hello = handshake(p);
        ::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
        const Answer answer = parseAnswer(
            readFrom(fd, 20s, [](const std::string &got) { return got.find("\r\n\r\n") != std::string::npos; }));
        upgraded += answer.status == 101;
        full += answer.status == 503;
        sockets.push_back(fd);
    }
    EXPECT_EQ(upgraded, 16);
    EXPECT_EQ(full, 24);
    for (const int fd : sockets)
        ::close(fd);

    // A body of 50 MB: refused after its head, never read into memory.
    EXPECT_EQ(hugeBody(p).status, 413);

    // 100 idle connections at once: those beyond the server's limit are
    // closed at once, and the page answers again once they are gone.
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i)
        idle.push_back(connectTo(p));
    for (const int fd : idle)
        ::close(fd);

    EXPECT_EQ(parseAnswer(readFrom(slow, 60s)).status, 408);
    ::close(slow);

    look();
    EXPECT_TRUE(heldEveryByte(box.dir / "reg", RunningLight, 20s, seen)) << "the steps went on";
    int status = 0;
    for (int tries = 0; tries < 200 && status != 200; ++tries) {
        status = ask(p, request(p, "GET", "/api/state")).status;
        if (status != 200)
            std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(status, 200);
    const long after = residentKiB(box.player->pid());
    RecordProperty("residentKiBBefore", int(before));
    RecordProperty("residentKiBAfter", int(after));
    std::printf("player memory: %ld KiB before the flood, %ld KiB after\n", before, after);
    EXPECT_LT(after - before, 8 * 1024) << "memory grew by " << after - before << " KiB";
    EXPECT_EQ(box.player->end(), 0) << box.player->err();
}

TEST(PlayerPage, aPageThatCannotListenEndsTheProgramWithOneLine)
{
    ScratchDir dir("page-listen");
    const int busy = freePort();
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(busy));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    struct Case
    {
        std::string listen;
        const char *said;
    };
    const Case cases[] = {
        {"127.0.0.1:" + std::to_string(busy), "the port is in use"},
        {"192.0.2.7:8080", "192.0.2.7 is not an address of this machine"},
        {"player.example:8080", "the page listens on an IP address of this machine"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.listen);
        writeFile(dir / "player.conf", "output = register:" + (dir / "reg").string() + "\nlisten = " + c.listen
                                           + "\npassword = geheim\nplay-at-start = no\n");
        PlayerProcess player(dir / "player.conf");
        EXPECT_EQ(player.end(false), 2) << player.err();
        EXPECT_NE(player.err().find(c.said), std::string::npos) << player.err();
    }
    ::close(holder);
}

TEST(PlayerPage, aFollowingPlayerShowsItsUniverseAndTakesNoCommands)
{
    Box box("page-follow", "follow = sacn:9/1\n");
    ASSERT_TRUE(box.player->ready()) << box.player->err();
    const int p = box.port;
    const QJsonObject state = ask(p, request(p, "GET", "/api/state")).json();
    EXPECT_TRUE(state["follow"]["source"].toString().startsWith("sacn:9")) << state["follow"]["source"].toString().toStdString();
    EXPECT_FALSE(state["follow"]["sender"].toString().isEmpty());
    EXPECT_FALSE(state.contains("cells")) << "the page shows the lamps and the sender instead of the grid";
    for (const auto &[path, body] : std::vector<std::pair<std::string, std::string>> {
             {"/api/start", "{}"}, {"/api/cell", R"({"channel":1,"step":1})"}, {"/api/save", R"({"name":"x"})"},
             {"/api/load", R"({"name":"lauf.bw2"})"}}) {
        SCOPED_TRACE(path);
        const Answer answer = ask(p, request(p, "POST", path, body));
        EXPECT_EQ(answer.status, 409);
        EXPECT_FALSE(answer.json()["error"].toString().isEmpty());
    }
    EXPECT_FALSE(fs::exists(box.dir / "pat" / "x.bw2"));
    EXPECT_EQ(box.player->end(), 0) << box.player->err();
}
