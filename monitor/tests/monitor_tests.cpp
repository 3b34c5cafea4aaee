#include "form1.h"
#include "relaymonitor.h"

#include "buttoncheckbox.h"
#include "programm.h"

#include "outputs.h"
#include "portio.h"
#include "stepclock.h"
#include "recordingport.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <deque>
#include <set>
#include <string>

namespace {

// A monitor on a scripted byte source; the lamps as a string, indicator 0
// first, "1" for yellow.
struct Scripted
{
    std::deque<std::int16_t> bytes;
    std::int16_t last = 0; // the port stays at the last byte read
    int reads = 0;
    int draws = 0;
    std::string lamps = "00000000";
    monitor::RelayMonitor monitor{[this] {
                                      ++reads;
                                      if (!bytes.empty()) {
                                          last = bytes.front();
                                          bytes.pop_front();
                                      }
                                      return last;
                                  },
                                  [this](int k, int image) {
                                      lamps[std::size_t(k)] = image == 2 ? '1' : '0';
                                      draws += k == 0;
                                  }};
};

QRgb rgb(int r, int g, int b)
{
    return qRgb(r, g, b);
}

} // namespace

TEST(RelayMonitor, lampsFollowTheByteOnItsFirstChange)
{
    struct Case { std::vector<std::int16_t> port; std::string lamps; int draws; };
    const Case cases[] = {
        {{0, 0, 0}, "00000000", 0},           // 0 at start draws nothing
        {{255}, "11111111", 1},
        {{1}, "10000000", 1},
        {{128}, "00000001", 1},
        {{5}, "10100000", 1},
        {{5, 5, 5, 5, 5, 5, 5}, "10100000", 1}, // a byte that stays redraws once
        {{77, 77, 77, 0}, "00000000", 2},       // back to 0 turns all olive
        {{3, 3, 3, 200, 200, 200, 3}, "11000000", 3},
    };
    for (const Case &c : cases) {
        Scripted s;
        s.bytes.assign(c.port.begin(), c.port.end());
        // Ticks until the script is used up; the port then stays at its last byte.
        int ticks = 0;
        while (!s.bytes.empty() && ticks < 20) {
            s.monitor.tick();
            ++ticks;
        }
        s.monitor.tick();
        s.monitor.tick();
        EXPECT_EQ(s.lamps, c.lamps) << "case ending " << c.port.back();
        EXPECT_EQ(s.draws, c.draws) << "case ending " << c.port.back();
        EXPECT_EQ(s.monitor.lastPortValue(), c.port.back());
    }
}

// The port changes while a tick draws: the remembered value is the one the
// lamps show, so the next tick sees the difference and draws the port's
// byte. Each row: the port's readings, in order; the port then stays at the
// last one.
TEST(RelayMonitor, aChangeBetweenTheReadingsOfOneTickIsDrawnOnTheNext)
{
    struct Case { std::vector<std::int16_t> port; std::string firstLamps; std::int16_t remembered; int draws; };
    const Case cases[] = {
        {{9, 10, 11}, "01010000", 10, 2}, // changed after the drawn reading
        {{9, 9, 12}, "10010000", 9, 2},
        {{9, 10, 10}, "01010000", 10, 1}, // changed before it: drawn at once
        {{200, 0, 0}, "00000000", 0, 1},  // drawn 0 is remembered, nothing more to draw
    };
    for (const Case &c : cases) {
        Scripted s;
        s.bytes.assign(c.port.begin(), c.port.end());
        s.monitor.tick();
        EXPECT_EQ(s.reads, 3) << "a changed tick reads three times";
        EXPECT_EQ(s.lamps, c.firstLamps);
        EXPECT_EQ(s.monitor.lastPortValue(), c.remembered) << "the value the lamps show";
        for (int i = 0; i < 5; ++i)
            s.monitor.tick();
        std::string final(8, '0');
        for (int k = 0; k < 8; ++k)
            final[std::size_t(k)] = (c.port.back() >> k) & 1 ? '1' : '0';
        EXPECT_EQ(s.lamps, final) << "the lamps come to show the port";
        EXPECT_EQ(s.monitor.lastPortValue(), c.port.back());
        EXPECT_EQ(s.draws, c.draws);
    }
}

TEST(RelayMonitor, scanSetsAllEightIndicatorsEveryTime)
{
    std::vector<std::pair<int, int>> calls;
    monitor::RelayMonitor m([] { return std::int16_t(6); }, [&](int k, int image) { calls.emplace_back(k, image); });
    m.Scan();
    m.Scan();
    ASSERT_EQ(calls.size(), 16u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(calls[std::size_t(i)].first, i % 8);
        EXPECT_EQ(calls[std::size_t(i)].second, (i % 8 == 1 || i % 8 == 2) ? 2 : 1);
    }
}

TEST(Form1, windowAndIndicatorsAtCreation)
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope(port);
    Form1 form;
    form.show();
    EXPECT_EQ(form.windowTitle(), "Relais Simulation");
    EXPECT_EQ(form.size(), QSize(287, 114));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.Picture1->geometry(), QRect(0, 0, 288, 114));
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 10);
    EXPECT_EQ(form.Timer1->timerType(), Qt::PreciseTimer);
    EXPECT_TRUE(port.calls().empty()) << "no port access before the first tick";
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(form.Picture2[std::size_t(k)]->geometry(), QRect(52 + 25 * k, 61, 8, 8));
        EXPECT_EQ(form.indicatorImage(k), 1);
    }
    EXPECT_EQ(form.ImageList1.listImage(1).toImage().pixel(3, 3), rgb(128, 128, 0));
    EXPECT_EQ(form.ImageList1.listImage(2).toImage().pixel(3, 3), rgb(255, 255, 0));
    port.queueReads({37, 37, 37});
    form.onTimer1Tick();
    for (const auto &call : port.calls())
        EXPECT_EQ(call.kind, portio::RecordingPort::Call::In) << "the monitor never writes";
}

TEST(Form1, theCardDrawing)
{
    const QImage card = QImage(":/schaltblick/card.png").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(card.size(), QSize(288, 114));
    const QRgb board = rgb(0, 0, 255), black = rgb(0, 0, 0), block = rgb(0, 64, 128);
    for (int k = 0; k < 8; ++k) {
        const int x0 = 52 + 25 * k;
        for (int y = 59; y <= 70; ++y)
            for (int x = x0 - 2; x <= x0 + 9; ++x) {
                const bool inside = x >= x0 && x < x0 + 8 && y >= 61 && y < 69;
                EXPECT_EQ(card.pixel(x, y), inside ? black : board) << "lamp " << k << " at " << x << "," << y;
            }
    }
    for (int y = 0; y < 114; ++y)
        EXPECT_EQ(card.pixel(287, y), board) << "last column, y " << y;
    std::set<QRgb> colours;
    int boardPixels = 0, blockPixels = 0;
    for (int y = 0; y < 114; ++y)
        for (int x = 0; x < 288; ++x) {
            colours.insert(card.pixel(x, y));
            boardPixels += card.pixel(x, y) == board;
            blockPixels += card.pixel(x, y) == block;
        }
    EXPECT_EQ(colours.size(), 10u);
    const double share = double(boardPixels) / (288 * 114);
    EXPECT_GT(share, 0.35);
    EXPECT_LT(share, 0.65);
    // Seven blocks along the upper edge, one in each lower corner.
    int topBlocks = 0;
    for (int x = 1; x < 288; ++x)
        topBlocks += card.pixel(x, 1) == block && card.pixel(x - 1, 1) != block;
    EXPECT_EQ(topBlocks, 7);
    EXPECT_EQ(card.pixel(1, 112), block);
    EXPECT_EQ(card.pixel(285, 112), block);
    EXPECT_GT(blockPixels, 0);
}

TEST(Form1, indicatorsCoverTheLampPlacesExactly)
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope(port);
    Form1 form;
    form.show();
    port.queueReads({0xA5, 0xA5, 0xA5});
    form.onTimer1Tick();
    const QImage shot = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int k = 0; k < 8; ++k) {
        const QRgb lit = (0xA5 >> k) & 1 ? rgb(255, 255, 0) : rgb(128, 128, 0);
        const int x0 = 52 + 25 * k;
        for (int y = 60; y <= 69; ++y)
            for (int x = x0 - 1; x <= x0 + 8; ++x) {
                const bool inside = x >= x0 && x < x0 + 8 && y >= 61 && y < 69;
                EXPECT_EQ(shot.pixel(x, y), inside ? lit : rgb(0, 0, 255)) << "lamp " << k << " at " << x << "," << y;
            }
    }
}

// What a screen reader learns of the monitor through Qt's accessibility.
TEST(Form1, screenReaderHearsTheWindowAndItsLamps)
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope(port);
    Form1 form;
    form.show();
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&form);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name).toStdString(), "Relais Simulation");
    port.queueReads({5, 5, 5});
    form.onTimer1Tick();
    for (int k = 0; k < 8; ++k) {
        QAccessibleInterface *lamp = QAccessible::queryAccessibleInterface(form.Picture2[std::size_t(k)]);
        ASSERT_TRUE(lamp);
        EXPECT_EQ(lamp->text(QAccessible::Name).toStdString(), "Lampe " + std::to_string(k + 1));
        EXPECT_EQ(lamp->text(QAccessible::Description).toStdString(), (k == 0 || k == 2) ? "an" : "aus") << k;
    }
}

// Both programs in one process on one register: the monitor shows what
// the sequencer writes, step by step.
TEST(Integration, lampsShowEachStepsCodeAndStopTurnsThemOff)
{
    portio::RecordingPort port; // a register: reads give the byte last written
    portio::ScopedPortBackend scope(port);
    QTemporaryDir patternFolder;
    Programm sequencer(std::filesystem::path(patternFolder.path().toStdString()));
    Form1 form;
    sequencer.show();
    form.show();
    form.Timer1->stop(); // ticks are driven by hand below
    sequencer.Timer1->setHeld(true);
    for (int step = 0; step < 20; ++step)
        for (int channel = 1; channel <= 8; ++channel)
            if (((step * 37 + 11) >> (channel - 1)) & 1)
                sequencer.checkArray(channel)[std::size_t(step)]->click();
    sequencer.Command1->click();
    for (int tick = 0; tick < 25; ++tick) {
        sequencer.engine().tick();
        form.onTimer1Tick();
        const int code = sequencer.Label14->text().toInt();
        EXPECT_EQ(code, ((tick % 20) * 37 + 11) & 0xFF);
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(form.indicatorImage(k), ((code >> k) & 1) + 1) << "tick " << tick << " lamp " << k;
    }
    sequencer.Command2->click();
    form.onTimer1Tick();
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(form.indicatorImage(k), 1) << "lamp " << k;
    sequencer.close();
}

// The monitor as schaltblick runs it: the output session reads every 10 ms
// on a thread of its own and wakes the window only when the byte changed.
TEST(Integration, anIdleMonitorWakesNothingOnTheWindowsThread)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("register");
    std::string error;
    portio::OutputSession session(portio::sessionSetup(portio::OutputRole::Monitor));
    ASSERT_EQ(session.bind(*portio::parseOutputSpec("register:" + file.toStdString(), error), false).outcome,
              portio::OutputSelection::Opened);
    const portio::ScopedPortBackend route(session.port());
    Form1 form;
    session.setChangeHandler([&form] { form.outputChanged(); });
    form.followOutput();

    // Everything the window's thread is woken for on the monitor's behalf.
    struct Wakes : QObject
    {
        QObject *window;
        int count = 0;
        bool eventFilter(QObject *receiver, QEvent *event) override
        {
            if ((event->type() == QEvent::MetaCall || event->type() == QEvent::Timer)
                && (receiver == window || receiver->parent() == window))
                ++count;
            return false;
        }
    } wakes;
    wakes.window = &form;
    QCoreApplication::instance()->installEventFilter(&wakes);
    QTest::qWait(500);
    EXPECT_EQ(wakes.count, 0) << "woken while the byte stayed the same";

    QFile reg(file);
    ASSERT_TRUE(reg.open(QIODevice::WriteOnly));
    reg.write("\x05", 1);
    reg.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.indicatorImage(0) == 2; }, 5000));
    EXPECT_EQ(form.indicatorImage(2), 2);
    EXPECT_EQ(form.indicatorImage(1), 1);
    EXPECT_GE(wakes.count, 1);
    QCoreApplication::instance()->removeEventFilter(&wakes);
}

int main(int argc, char **argv)
{
    // Set before the first port access of this process: every port call not
    // taken by a recording port goes to this file.
    QTemporaryDir dir;
    qputenv("BLINKWERK_LPT_REGISTER", dir.filePath("register").toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
