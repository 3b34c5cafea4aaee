#pragma once
// Form1, the window of schaltblick: the drawing of the relay card with its
// eight lamps. Timer1 polls the port every 10 ms from the moment the window
// exists; the window never writes the port.

#include "relaymonitor.h"

#include <QPixmap>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <string>

class QLabel;
class QTimer;

// The store of the two lamp images, numbered 1 (off, olive) and 2 (on,
// yellow).
class ImageList
{
public:
    ImageList();
    const QPixmap &listImage(int number) const;

private:
    std::array<QPixmap, 2> m_images;
};

class Form1 : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Reads the port once and sets all eight indicators from it.
    void Scan();
    // What a tick of Timer1 runs: the change test. Tests call it directly.
    void onTimer1Tick();

    // From now on the output's own reader (a thread of the program's output
    // session) tells the window when the byte or the output's state
    // changed, through outputChanged; the window's timers stop, so an idle
    // monitor wakes nothing on the window's thread.
    void followOutput();
    // The reader saw a change: the change test runs, and the tooltip is
    // brought up to date. Any thread may call it; the work is done on the
    // window's thread, once for any number of changes it has not drawn yet.
    void outputChanged();

    std::int16_t lastPortValue() const { return m_monitor.lastPortValue(); }
    // The image number indicator k shows, 1 or 2.
    int indicatorImage(int k) const { return m_shown[std::size_t(k)]; }

    // The window's tooltip: which output it shows, and whether that is the
    // device's own state or what blinkwerk last sent (the output's status,
    // e.g. "kein Sender"). Refreshed every 250 ms from the first tick on,
    // when it changed.
    void refreshToolTip();
    // What refreshToolTip asks: the output's German name and what it says
    // of itself (empty: nothing). The program binds them to its session;
    // they must not wait.
    std::function<std::string()> describeOutput;
    std::function<std::string()> outputStatus;

    QLabel *Picture1;                  // the card drawing
    std::array<QLabel *, 8> Picture2;  // the lamps, indicator 0 leftmost
    QTimer *Timer1;
    ImageList ImageList1;
    QTimer *toolTipTimer;

protected:
    // The tooltip is brought up to date just before it shows.
    bool event(QEvent *event) override;

private:
    void setIndicator(int k, int image);
    void drawChange();

    monitor::RelayMonitor m_monitor;
    std::array<int, 8> m_shown{};
    std::atomic<bool> m_changeToDraw {false};
};
