#include "buttoncheckbox.h"
#include "dialogfont.h"
#include "clicklabel.h"
#include "info.h"
#include "programm.h"
#include "sequencer_ui_tests.h"
#include "stepclock.h"

#include "portio.h"
#include "recordingport.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

QT_BEGIN_NAMESPACE
// Readable QStrings in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

// A window on a scratch pattern folder with its port recorded, shown and
// active as a user would see it.
struct Rig
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope{port};
    QTemporaryDir folder;
    std::unique_ptr<Programm> window;

    explicit Rig(bool show = true)
    {
        window = std::make_unique<Programm>(fs::path(folder.path().toStdString()));
        if (show) {
            window->show();
            QApplication::setActiveWindow(window.get());
            EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        }
    }
    void writePattern(const char *name, const std::string &bytes) const
    {
        std::ofstream(fs::path(folder.path().toStdString()) / name, std::ios::binary) << bytes;
    }
    void click(QWidget *widget) const { QTest::mouseClick(widget, Qt::LeftButton); }
};

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

TEST(Programm, controlsAtCreation)
{
    Rig rig(false);
    Programm &w = *rig.window;
    struct Row { const char *name; const char *parent; QRect geometry; const char *text; bool enabled; };
    const Row rows[] = {
        {"Frame1", "Programm", {8, 0, 425, 225}, nullptr, true},
        {"Frame2", "Programm", {8, 232, 145, 225}, nullptr, true},
        {"Frame3", "Programm", {160, 232, 209, 225}, nullptr, true},
        {"Picture1", "Programm", {370, 232, 65, 238}, nullptr, true},
        {"Label17", "Frame1", {8, 16, 37, 13}, "Akt. ab:", true},
        {"HScroll3", "Frame1", {48, 16, 353, 17}, nullptr, true},
        {"Label16", "Frame1", {8, 40, 38, 13}, "Akt. bis:", true},
        {"HScroll2", "Frame1", {48, 40, 353, 17}, nullptr, true},
        {"Label15", "Frame1", {8, 200, 38, 13}, "Fortsch.", true},
        {"HScroll1", "Frame1", {48, 200, 353, 17}, nullptr, true},
        {"Label9", "Frame2", {8, 16, 34, 13}, "Speed:", true},
        {"Combo1", "Frame2", {64, 16, 73, 21}, "", true},
        {"Label10", "Frame2", {8, 40, 46, 13}, "CPU-Zeit:", true},
        {"Combo2", "Frame2", {64, 40, 73, 21}, "", true},
        {"Label11", "Frame2", {8, 64, 45, 13}, "IstSpeed:", true},
        {"Label12", "Frame2", {64, 64, 73, 17}, "", true},
        {"Label13", "Frame2", {8, 88, 48, 13}, "LPTCode:", true},
        {"Label14", "Frame2", {64, 88, 73, 17}, "", true},
        {"Label18", "Frame2", {8, 112, 42, 13}, "Aktiv ab:", true},
        {"Label19", "Frame2", {64, 112, 73, 17}, "1", true},
        {"Label20", "Frame2", {8, 136, 43, 13}, "Aktiv bis:", true},
        {"Label21", "Frame2", {64, 136, 73, 17}, "20", true},
        {"Check9", "Frame2", {8, 160, 129, 17}, "Simulation", true},
        {"Command1", "Frame2", {8, 184, 129, 17}, "Start", true},
        {"Command2", "Frame2", {8, 200, 129, 17}, "Stop", false},
        {"Label22", "Frame3", {8, 16, 54, 13}, "Dateiname:", true},
        {"Text1", "Frame3", {72, 16, 97, 19}, "", true},
        {"Label23", "Frame3", {168, 16, 33, 19}, ".bw2", true},
        {"Command3", "Frame3", {8, 40, 193, 17}, "Speichern", false},
        {"File1", "Frame3", {8, 64, 193, 123}, nullptr, true},
        {"Command4", "Frame3", {8, 200, 193, 17}, "Laden", false},
    };
    for (const Row &row : rows) {
        auto *widget = w.findChild<QWidget *>(row.name);
        ASSERT_TRUE(widget) << row.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), row.parent) << row.name;
        EXPECT_EQ(widget->geometry(), row.geometry) << row.name;
        EXPECT_EQ(widget->isEnabled(), row.enabled) << row.name;
        if (!row.text)
            continue;
        QString text;
        if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        else if (auto *combo = qobject_cast<QComboBox *>(widget))
            text = combo->currentText();
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            text = edit->text();
        EXPECT_EQ(text, QString::fromUtf8(row.text)) << row.name;
    }
    for (int k = 1; k <= 8; ++k) {
        auto *label = w.findChild<QLabel *>(QString("Label%1").arg(k));
        ASSERT_TRUE(label);
        EXPECT_EQ(label->geometry(), QRect(8, 64 + 16 * (k - 1), 36, 13));
        EXPECT_EQ(label->text(), QString("Kanal%1:").arg(k));
        for (int i = 0; i <= 20; ++i) {
            ButtonCheckBox *cell = w.checkArray(k)[std::size_t(i)];
            EXPECT_EQ(cell->objectName(), QString("Check%1").arg(k));
            EXPECT_EQ(cell->property("index").toInt(), i);
            EXPECT_EQ(cell->parentWidget(), w.Frame1);
            EXPECT_EQ(cell->geometry(), QRect(i == 20 ? 400 : 64 + 16 * i, 64 + 16 * (k - 1), 17, 17));
            EXPECT_EQ(cell->value(), 0);
            EXPECT_EQ(cell->isEnabled(), i != 20);
        }
    }
    for (QScrollBar *bar : {w.HScroll1, w.HScroll2, w.HScroll3}) {
        EXPECT_EQ(bar->minimum(), 1);
        EXPECT_EQ(bar->maximum(), 20);
        EXPECT_EQ(bar->singleStep(), 1);
        EXPECT_EQ(bar->pageStep(), 1);
    }
    EXPECT_EQ(w.HScroll1->value(), 1);
    EXPECT_EQ(w.HScroll2->value(), 20);
    EXPECT_EQ(w.HScroll3->value(), 1);
    EXPECT_EQ(w.Combo1->count(), 11);
    EXPECT_EQ(w.Combo1->itemText(3), "150ms");
    EXPECT_EQ(w.Combo2->count(), 6);
    EXPECT_EQ(w.Combo2->itemText(5), "5ms");
    EXPECT_EQ(w.Combo1->currentIndex(), -1);
    EXPECT_EQ(w.Combo2->currentIndex(), -1);
    EXPECT_FALSE(w.Combo1->isEditable());
    EXPECT_FALSE(w.Combo2->isEditable());
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(w.Timer1->interval(), 0);
    EXPECT_EQ(w.Check9->value(), 0);
    EXPECT_TRUE(rig.port.writtenBytes().empty()) << "nothing before the load";

    EXPECT_EQ(w.windowTitle(), "BlinkwerkV2.1");
    EXPECT_EQ(w.minimumSize(), QSize(438, 462));
    EXPECT_EQ(w.maximumSize(), QSize(438, 462));
    EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    for (QWidget *painted : std::initializer_list<QWidget *>{&w, w.Frame1, w.Frame2, w.Frame3, w.Label23})
        EXPECT_EQ(painted->palette().color(QPalette::Window), platformInactiveBorder()) << painted->objectName().toStdString();
    EXPECT_TRUE(w.Label23->autoFillBackground());
}

TEST(Programm, everyCaptionFitsItsLayoutWidth)
{
    if (const auto reason = whyCaptionsMayNotFit())
        GTEST_SKIP() << *reason;
    Rig rig(false);
    for (QLabel *label : rig.window->findChildren<QLabel *>()) {
        if (label->text().isEmpty())
            continue;
        const int width = QFontMetrics(label->font()).horizontalAdvance(label->text());
        const int room = label->width() - (label->frameWidth() ? 2 * label->frameWidth() + 2 : 0);
        EXPECT_LE(width, room) << label->objectName().toStdString() << " \"" << label->text().toStdString() << "\"";
        EXPECT_FALSE(label->text().contains('&')) << "no access keys";
    }
    for (QAbstractButton *button : rig.window->findChildren<QAbstractButton *>()) {
        EXPECT_LE(QFontMetrics(button->font()).horizontalAdvance(button->text()), button->width() - 8);
        EXPECT_FALSE(button->text().contains('&')) << "no access keys";
    }
}

TEST(Programm, loadPicksFiftyMillisecondsAndFocusesTheFirstCell)
{
    Rig rig;
    Programm &w = *rig.window;
    EXPECT_EQ(rig.port.writtenBytes(), std::vector<int>{0});
    EXPECT_EQ(w.Combo1->currentText(), "50ms");
    EXPECT_EQ(w.Combo2->currentText(), "0ms");
    EXPECT_EQ(w.Label12->text(), "50");
    EXPECT_EQ(QApplication::focusWidget(), w.Check1[0]);
}

TEST(Programm, tabWalksTheFocusOrder)
{
    Rig rig;
    Programm &w = *rig.window;
    std::vector<QWidget *> expected;
    for (int k = 1; k <= 8; ++k)
        for (int i = 0; i < 20; ++i)
            expected.push_back(w.checkArray(k)[std::size_t(i)]);
    // Stop, Speichern and Laden are disabled, the LiveColumn always is.
    for (QWidget *widget : std::initializer_list<QWidget *>{w.HScroll1, w.Combo1, w.Combo2, w.Command1, w.Check9,
                                                            w.HScroll2, w.HScroll3, w.Text1, w.File1, w.Picture1})
        expected.push_back(widget);
    std::vector<QWidget *> seen{QApplication::focusWidget()};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget());
    }
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(seen[i], expected[i]) << "step " << i << ": " << (seen[i] ? seen[i]->objectName().toStdString() : "none");

    // With every button enabled they take their places in the chain.
    w.Command2->setEnabled(true);
    w.Command3->setEnabled(true);
    w.Command4->setEnabled(true);
    w.Command1->setFocus();
    const std::vector<QWidget *> tail = {w.Command2, w.Check9, w.HScroll2, w.HScroll3, w.Text1,
                                         w.Command3, w.File1,  w.Command4, w.Picture1};
    for (QWidget *next : tail) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST(Programm, buttonsThroughASessionOfClicks)
{
    Rig rig;
    Programm &w = *rig.window;
    const auto states = [&] {
        return std::string(w.Command1->isEnabled() ? "S" : "s") + (w.Command2->isEnabled() ? "T" : "t")
               + (w.Command3->isEnabled() ? "P" : "p") + (w.Command4->isEnabled() ? "L" : "l");
    };
    EXPECT_EQ(states(), "Stpl");
    rig.click(w.Command1);
    EXPECT_EQ(states(), "sTpl");
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(w.Timer1->interval(), 50);
    QTest::keyClicks(w.Text1, "lauf");
    EXPECT_EQ(states(), "sTPl");
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(w.Text1, Qt::Key_Backspace);
    EXPECT_EQ(states(), "sTpl");
    QTest::keyClicks(w.Text1, "lauf");
    rig.click(w.Command3);
    EXPECT_EQ(states(), "sTpl");
    EXPECT_EQ(w.Text1->text(), "");
    ASSERT_EQ(w.File1->count(), 1);
    EXPECT_EQ(w.File1->item(0)->text(), "lauf.bw2");
    const QRect first = w.File1->visualItemRect(w.File1->item(0));
    QTest::mouseClick(w.File1->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(states(), "sTpL");
    rig.click(w.Command2);
    EXPECT_EQ(states(), "StpL");
    EXPECT_FALSE(w.Timer1->isActive());
}

TEST(Programm, cellClicksChangeOnlyTheirCell)
{
    Rig rig;
    Programm &w = *rig.window;
    rig.click(w.Check3[4]);
    EXPECT_EQ(w.Check3[4]->value(), 1);
    EXPECT_EQ(w.engine().cell(3, 4), 1);
    rig.click(w.Check3[20]); // LiveColumn: disabled
    EXPECT_EQ(w.Check3[20]->value(), 0);
    EXPECT_EQ(w.engine().cell(3, 20), 0);
    w.engine().setCell(5, 7, 2); // greyed, as a loaded file sets it
    EXPECT_EQ(w.Check5[7]->value(), 2);
    rig.click(w.Check5[7]);
    EXPECT_EQ(w.engine().cell(5, 7), 1) << "a click on a greyed cell turns it on";
    rig.click(w.Check5[7]);
    EXPECT_EQ(w.engine().cell(5, 7), 0);
    EXPECT_EQ(w.Label14->text(), "") << "nothing follows a click at once";
    EXPECT_EQ(rig.port.writtenBytes(), std::vector<int>{0});
    QTest::mouseClick(w.Check2[0], Qt::LeftButton, {}, QPoint(1, 1)); // the face's corner
    EXPECT_EQ(w.engine().cell(2, 0), 1);
}

TEST(Programm, rangeBarsGiveWayOnScreen)
{
    Rig rig;
    Programm &w = *rig.window;
    w.HScroll3->setValue(8);
    w.HScroll2->setValue(3); // as a drag would
    EXPECT_EQ(w.HScroll2->value(), 9);
    EXPECT_EQ(w.Label21->text(), "9");
    EXPECT_EQ(w.HScroll3->value(), 8);
    w.HScroll3->setValue(20);
    EXPECT_EQ(w.HScroll3->value(), 8);
    EXPECT_EQ(w.Label19->text(), "8");
    w.HScroll1->setValue(13); // the progress bar has no handler
    EXPECT_EQ(w.engine().progress(), 1);
}

TEST(Programm, runsThePatternThroughThePort)
{
    Rig rig;
    Programm &w = *rig.window;
    rig.click(w.Check1[0]);   // step 1: 1
    rig.click(w.Check2[1]);   // step 2: 2
    rig.click(w.Check8[2]);   // step 3: 128 + 4
    rig.click(w.Check3[2]);
    w.HScroll2->setValue(3);
    rig.click(w.Command1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.writtenBytes().size() >= 8; }, 10000));
    rig.click(w.Command2);
    std::vector<int> bytes = rig.port.writtenBytes();
    ASSERT_GE(bytes.size(), 9u);
    EXPECT_EQ(bytes.front(), 0) << "the load";
    EXPECT_EQ(bytes.back(), 0) << "Stop";
    const int cycle[] = {1, 2, 132};
    for (std::size_t i = 1; i + 1 < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], cycle[(i - 1) % 3]) << "write " << i;
    EXPECT_EQ(w.HScroll1->value(), 1);
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(w.checkArray(k)[20]->value(), 0);
    EXPECT_EQ(w.Label14->text().toInt(), cycle[(bytes.size() - 3) % 3]) << "Stop keeps the last code";
}

TEST(Programm, loadErrorBoxAppearsOnceWithTheExactText)
{
    Rig rig;
    Programm &w = *rig.window;
    std::string bad = std::string(160, '1') + "|21|1|0\r\n";
    bad[44] = '3';
    rig.writePattern("kaputt.bw2", bad);
    QTest::keyClicks(w.Text1, "gut");
    rig.click(w.Command3); // re-reads the list
    ASSERT_EQ(w.File1->count(), 2);
    ASSERT_EQ(w.File1->item(1)->text(), "kaputt.bw2");
    QTest::mouseClick(w.File1->viewport(), Qt::LeftButton, {}, w.File1->visualItemRect(w.File1->item(1)).center());

    struct Seen { QString title, text; QMessageBox::Icon icon; bool modal; };
    std::vector<Seen> boxes;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible()) {
                boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->isModal()});
                box->button(QMessageBox::Ok)->click();
            }
    });
    watcher.start(5);
    rig.click(w.Command4); // the load and its box run inside the click
    watcher.stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Error");
    EXPECT_EQ(boxes[0].text, "Syntaxerror in Datei kaputt.bw2");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].modal);
    EXPECT_EQ(w.Check3[4]->value(), 0);
    EXPECT_EQ(w.Check3[5]->value(), 1);
    EXPECT_EQ(w.HScroll2->value(), 20);
    EXPECT_EQ(w.Label21->text(), "20");
}

TEST(Programm, refusedSaveNamesTheNameAndKeepsIt)
{
    Rig rig;
    Programm &w = *rig.window;
    std::vector<patterns::ErrorMessage> shown;
    w.presentError = [&](QWidget *, const patterns::ErrorMessage &m) { shown.push_back(m); };
    QTest::keyClicks(w.Text1, "../weg");
    rig.click(w.Command3);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Error");
    EXPECT_NE(shown[0].text.find("\"../weg\""), std::string::npos);
    EXPECT_EQ(w.Text1->text(), "../weg");
    EXPECT_TRUE(w.Command3->isEnabled());
    EXPECT_EQ(w.File1->count(), 0);
}

TEST(Programm, closingWritesZeroRunningOrNot)
{
    for (bool running : {false, true}) {
        Rig rig;
        Programm &w = *rig.window;
        for (int index = 0; index < 20; ++index)
            rig.click(w.Check1[std::size_t(index)]); // every step outputs 1
        if (running) {
            w.Timer1->setHeld(true); // the ticks come from the test
            rig.click(w.Command1);
            w.engine().tick();
            w.engine().tick();
            ASSERT_EQ(rig.port.writtenBytes(), (std::vector<int>{0, 1, 1})) << "the load, then two ticks";
        }
        const std::size_t before = rig.port.writtenBytes().size();
        w.close();
        const auto bytes = rig.port.writtenBytes();
        ASSERT_EQ(bytes.size(), before + 1) << (running ? "running" : "stopped");
        EXPECT_EQ(bytes.back(), 0) << (running ? "running" : "stopped");
        EXPECT_FALSE(w.Timer1->isActive());
    }
}

TEST(Programm, aBusyWindowDelaysNoStep)
{
    Rig rig;
    Programm &w = *rig.window;
    rig.click(w.Check1[0]);
    rig.click(w.Command1); // 50 ms steps
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.writtenBytes().size() >= 3; }, 10000));
    // The window's thread is kept from its events for 500 ms, as by a slow
    // repaint or a handler that takes its time: the steps go on regardless.
    const std::size_t before = rig.port.writtenBytes().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GE(rig.port.writtenBytes().size(), before + 4) << "steps written while the window was busy";
    rig.click(w.Command2);
}

TEST(Info, disablesOnlyTheMainWindowWhileTheSequenceGoesOn)
{
    Rig rig;
    Programm &w = *rig.window;
    rig.click(w.Command1);
    rig.click(w.Picture1);
    Info *info = w.info();
    ASSERT_TRUE(info);
    EXPECT_FALSE(w.isEnabled());
    EXPECT_TRUE(info->isVisible());
    EXPECT_TRUE(info->isEnabled());
    EXPECT_FALSE(info->isModal());
    EXPECT_EQ(info->parentWidget(), nullptr);
    EXPECT_EQ(info->windowTitle(), " ");
    EXPECT_EQ(info->size(), QSize(369, 270));
    EXPECT_EQ(info->minimumSize(), info->maximumSize());
    EXPECT_EQ(info->Label1->text(), Info::descriptionText());
    EXPECT_FALSE(info->Picture2->isVisible());
    EXPECT_EQ(info->Picture2->geometry(), QRect(208, 168, 64, 94));
    EXPECT_EQ(info->Command1->geometry(), QRect(8, 240, 65, 25));
    EXPECT_EQ(info->Picture1->geometry(), QRect(8, 0, 360, 70));

    const std::size_t before = rig.port.writtenBytes().size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.writtenBytes().size() >= before + 2; }, 10000))
        << "the timer keeps running behind the dialog";

    QTest::mouseDClick(info->Label3, Qt::LeftButton);
    EXPECT_TRUE(info->Picture2->isVisible());
    QTest::mouseDClick(info->Label3, Qt::LeftButton);
    EXPECT_TRUE(info->Picture2->isVisible());
    rig.click(info->Command1);
    flushDeletes();
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(w.info(), nullptr) << "destroyed";

    rig.click(w.Picture1);
    ASSERT_TRUE(w.info());
    EXPECT_FALSE(w.info()->Picture2->isVisible()) << "the next opening starts fresh";
    w.info()->close(); // the close box
    flushDeletes();
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(w.info(), nullptr);
}

// The dialog takes the keyboard by itself on opening: no test hands it the
// activation. Enter or Space then clicks "OK".
TEST(Info, takesTheFocusOnOpeningSoEnterAndSpaceClickOk)
{
    Rig rig;
    Programm &w = *rig.window;
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        QTest::mouseClick(w.Picture1, Qt::LeftButton);
        Info *info = w.info();
        ASSERT_TRUE(info);
        // The platform reports the activation before the application takes
        // it in; wait for the latter.
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == info; }, 10000)) << "key " << key;
        EXPECT_EQ(QApplication::focusWidget(), info->Command1) << "key " << key;
        QTest::keyClick(info->windowHandle(), key);
        flushDeletes();
        EXPECT_EQ(w.info(), nullptr) << "key " << key;
        EXPECT_TRUE(w.isEnabled()) << "key " << key;
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &w; }, 10000))
            << "the keyboard returns to the main window, key " << key;
    }
}

TEST(Info, escapeLeavesItOpenItsCloseBoxClosesIt)
{
    Rig rig;
    Programm &w = *rig.window;
    rig.click(w.Picture1);
    QPointer<Info> info = w.info();
    ASSERT_TRUE(info);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == info; }, 10000));
    QTest::keyClick(info->windowHandle(), Qt::Key_Escape);
    flushDeletes();
    ASSERT_TRUE(info) << "Escape does not close the dialog";
    EXPECT_TRUE(info->isVisible());
    EXPECT_FALSE(w.isEnabled());

    info->windowHandle()->close(); // what the close box sends
    flushDeletes();
    EXPECT_FALSE(info);
    EXPECT_EQ(w.info(), nullptr);
    EXPECT_TRUE(w.isEnabled());
}

// The window manager keeps a window above its transient parent; a dialog
// without one sinks behind the disabled main window when that is clicked.
TEST(Info, belongsToTheMainWindowWithoutBlockingOthers)
{
    Rig rig;
    Programm &w = *rig.window;
    QWidget other; // another window of the desktop
    other.show();
    rig.click(w.Picture1);
    Info *info = w.info();
    ASSERT_TRUE(info);
    ASSERT_TRUE(info->windowHandle());
    EXPECT_EQ(info->windowHandle()->transientParent(), w.windowHandle());
    EXPECT_EQ(info->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(info->isEnabled());
    EXPECT_TRUE(other.isEnabled());
    EXPECT_FALSE(w.isEnabled());

    // A click on the disabled main window activates it; the keyboard passes
    // on to the dialog.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == info; }, 10000));
    std::vector<QWindow *> focused;
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &other,
                     [&](QWindow *window) { focused.push_back(window); });
    w.activateWindow(); // as the window manager does on the click
    const auto handedOn = [&] {
        return focused.size() >= 2 && focused[focused.size() - 2] == w.windowHandle()
               && focused.back() == info->windowHandle();
    };
    EXPECT_TRUE(QTest::qWaitFor(handedOn, 10000)) << focused.size() << " focus changes";
    EXPECT_EQ(QApplication::activeWindow(), info);
    EXPECT_EQ(QApplication::focusWidget(), info->Command1);
    info->Command1->click();
    flushDeletes();
}

// While the dialog is open the main window takes no input, its close box
// included; a termination request still closes it and switches the relays off.
TEST(Info, mainWindowRefusesTheUserCloseButNotATerminationRequest)
{
    Rig rig;
    Programm &w = *rig.window;
    rig.click(w.Check1[0]);
    w.Timer1->setHeld(true); // the ticks come from the test
    rig.click(w.Command1);
    w.engine().tick(); // the port now holds 1
    rig.click(w.Picture1);
    QPointer<Info> info = w.info();
    ASSERT_TRUE(info);
    const std::vector<int> before = rig.port.writtenBytes();
    ASSERT_EQ(before.back(), 1);

    w.windowHandle()->close(); // the close box, or the platform's close key
    flushDeletes();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(info);
    EXPECT_EQ(rig.port.writtenBytes(), before) << "nothing written";

    w.closeForTermination();
    flushDeletes();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(info) << "the dialog closes with the window";
    const std::vector<int> after = rig.port.writtenBytes();
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.back(), 0);
}

TEST(Info, descriptionText)
{
    const QString q = "\"";
    const QString expected = "Mit " + q + "BlinkwerkV2.1" + q + QString::fromUtf8(" können Sie ganz einfach Ihre LPT-Relaiskarte steuern.\r\n")
                             + QString::fromUtf8("Regeln Sie bis zu 8 Leuchtmitteln (Glühbirnen, LED's etc.) gleichzeitig!\r\n\r\n")
                             + "Haben Sie weitere fragen zu " + q + "BlinkwerkV2.1" + q + ", oder fanden Sie einen Bug?\r\n"
                             + "Lassen Sie es mich bitte wissen!";
    EXPECT_EQ(Info::descriptionText(), expected);
    EXPECT_EQ(Info::descriptionText().split("\r\n").size(), 5);
}

// Keys on the three bars, sent to the window as a person types them; each
// row starts from the bar's value before it. Page Up lowers and Page Down
// raises, as on a platform scroll bar; a modifier changes nothing.
TEST(Bars, keysGoTheWayOfTheArrowsAndRunTheHandler)
{
    Rig rig;
    Programm &w = *rig.window;
    struct Row { QScrollBar *bar; Qt::Key key; int value; Qt::KeyboardModifiers modifiers = {}; };
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier, alt = Qt::AltModifier;
    const Row rows[] = {
        {w.HScroll3, Qt::Key_Right, 2}, {w.HScroll3, Qt::Key_Right, 3}, {w.HScroll3, Qt::Key_Left, 2},
        {w.HScroll3, Qt::Key_Up, 3},    {w.HScroll3, Qt::Key_Down, 2},  {w.HScroll3, Qt::Key_End, 19},
        {w.HScroll3, Qt::Key_Right, 19}, {w.HScroll3, Qt::Key_Home, 1}, {w.HScroll3, Qt::Key_Left, 1},
        {w.HScroll2, Qt::Key_Left, 19}, {w.HScroll2, Qt::Key_Down, 18}, {w.HScroll2, Qt::Key_Up, 19},
        {w.HScroll2, Qt::Key_Right, 20}, {w.HScroll2, Qt::Key_Home, 2}, {w.HScroll2, Qt::Key_End, 20},
        {w.HScroll1, Qt::Key_Right, 2}, {w.HScroll1, Qt::Key_Left, 1},  {w.HScroll1, Qt::Key_End, 20},
        {w.HScroll1, Qt::Key_Down, 19}, {w.HScroll1, Qt::Key_Home, 1},
        {w.HScroll3, Qt::Key_PageDown, 2}, {w.HScroll3, Qt::Key_PageDown, 3}, {w.HScroll3, Qt::Key_PageUp, 2},
        {w.HScroll3, Qt::Key_Right, 3, shift}, {w.HScroll3, Qt::Key_Right, 4, ctrl}, {w.HScroll3, Qt::Key_Right, 5, alt},
        {w.HScroll3, Qt::Key_Left, 4, shift}, {w.HScroll3, Qt::Key_Left, 3, ctrl}, {w.HScroll3, Qt::Key_Left, 2, alt},
        {w.HScroll3, Qt::Key_Up, 3, ctrl}, {w.HScroll3, Qt::Key_Down, 2, shift},
        {w.HScroll3, Qt::Key_PageDown, 3, ctrl}, {w.HScroll3, Qt::Key_PageUp, 2, shift},
        {w.HScroll3, Qt::Key_End, 19, ctrl}, {w.HScroll3, Qt::Key_Home, 1, shift},
        {w.HScroll2, Qt::Key_PageUp, 19}, {w.HScroll2, Qt::Key_PageDown, 20}, {w.HScroll2, Qt::Key_Left, 19, ctrl},
        {w.HScroll2, Qt::Key_Right, 20, shift}, {w.HScroll2, Qt::Key_Down, 19, alt}, {w.HScroll2, Qt::Key_Up, 20, alt},
        {w.HScroll2, Qt::Key_PageUp, 19, shift}, {w.HScroll2, Qt::Key_Home, 2, ctrl}, {w.HScroll2, Qt::Key_End, 20, ctrl},
        {w.HScroll1, Qt::Key_PageDown, 2}, {w.HScroll1, Qt::Key_PageUp, 1}, {w.HScroll1, Qt::Key_Right, 2, shift},
        {w.HScroll1, Qt::Key_Left, 1, ctrl}, {w.HScroll1, Qt::Key_Right, 2, Qt::KeypadModifier},
        {w.HScroll1, Qt::Key_Home, 1, alt},
    };
    for (const Row &row : rows) {
        row.bar->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), row.bar);
        QTest::keyClick(w.windowHandle(), row.key, row.modifiers);
        const std::string where = row.bar->objectName().toStdString() + " key " + std::to_string(row.key)
                                  + " modifiers " + std::to_string(row.modifiers.toInt());
        EXPECT_EQ(row.bar->value(), row.value) << where;
        if (row.bar == w.HScroll3) {
            EXPECT_EQ(w.engine().firstActiveStep(), row.value) << where;
            EXPECT_EQ(w.Label19->text(), QString::number(row.value)) << where;
        } else if (row.bar == w.HScroll2) {
            EXPECT_EQ(w.engine().lastActiveStep(), row.value) << where;
            EXPECT_EQ(w.Label21->text(), QString::number(row.value)) << where;
        } else {
            EXPECT_EQ(w.engine().progress(), 1) << "the progress bar has no handler";
        }
    }
}

namespace {

// A window whose pattern folder holds the given files when it starts.
std::unique_ptr<Rig> rigWithPatterns(const std::vector<std::pair<const char *, std::string>> &files)
{
    auto rig = std::make_unique<Rig>(false);
    for (const auto &[name, bytes] : files)
        rig->writePattern(name, bytes);
    rig->window->show();
    QApplication::setActiveWindow(rig->window.get());
    EXPECT_TRUE(QTest::qWaitForWindowActive(rig->window.get()));
    return rig;
}

std::string patternLine(char firstCell)
{
    std::string cells(160, '0');
    cells[0] = firstCell;
    return cells + "|20|1|0\r\n";
}

QString selectedName(QListWidget *list)
{
    const QList<QListWidgetItem *> items = list->selectedItems();
    return items.size() == 1 ? items.first()->text() : QString("(%1 picked)").arg(items.size());
}

} // namespace

// The user moves the pick but never removes it: Ctrl+click on the picked
// entry, Ctrl+Space and a click in the empty part of the list leave it.
TEST(FilePanel, aPickMovesButStays)
{
    auto rig = rigWithPatterns({{"a.bw2", patternLine('0')}, {"b.bw2", patternLine('1')}});
    Programm &w = *rig->window;
    std::vector<std::string> errors;
    w.presentError = [&](QWidget *, const patterns::ErrorMessage &m) { errors.push_back(m.text); };
    ASSERT_EQ(w.File1->count(), 2);
    QWidget *view = w.File1->viewport();
    const auto entry = [&](int row) { return w.File1->visualItemRect(w.File1->item(row)).center(); };
    const QPoint empty(20, view->height() - 4);
    ASSERT_FALSE(w.File1->itemAt(empty));

    struct Step { const char *what; std::function<void()> act; const char *picked; };
    const Step steps[] = {
        {"click on a", [&] { QTest::mouseClick(view, Qt::LeftButton, {}, entry(0)); }, "a.bw2"},
        {"Ctrl+click on a", [&] { QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, entry(0)); }, "a.bw2"},
        {"click on empty space", [&] { QTest::mouseClick(view, Qt::LeftButton, {}, empty); }, "a.bw2"},
        {"Ctrl+click on empty space", [&] { QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, empty); }, "a.bw2"},
        {"Ctrl+Space", [&] { QTest::keyClick(w.windowHandle(), Qt::Key_Space, Qt::ControlModifier); }, "a.bw2"},
        {"Down", [&] { QTest::keyClick(w.windowHandle(), Qt::Key_Down); }, "b.bw2"},
        {"Ctrl+click on b", [&] { QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, entry(1)); }, "b.bw2"},
    };
    for (const Step &step : steps) {
        step.act();
        EXPECT_EQ(selectedName(w.File1), step.picked) << step.what;
    }
    rig->click(w.Command4);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(w.Check1[0]->value(), 1) << "b.bw2 was loaded";
}

TEST(FilePanel, tooltipShowsThePatternFolder)
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope(port);
    const QString folder = QDir::tempPath() + "/R&B <i>muster</i>";
    Programm w(fs::path(folder.toStdString()));
    QTextDocument shown;
    shown.setHtml(w.File1->toolTip());
    EXPECT_EQ(shown.toPlainText(), QDir::toNativeSeparators(folder));
}

// A file name in a message box is text, never markup.
TEST(Programm, errorBoxesShowFileNamesAsPlainText)
{
    Rig rig;
    Programm &w = *rig.window;
    struct Seen { QString text; Qt::TextFormat format; };
    std::vector<Seen> boxes;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible()) {
                boxes.push_back({box->text(), box->textFormat()});
                box->button(QMessageBox::Ok)->click();
            }
    });
    watcher.start(5);
    QTest::keyClicks(w.Text1, "<b>x/y"); // refused: no folders in a name
    rig.click(w.Command3);
    Programm::showErrorBox(&w, {"Error", "Syntaxerror in Datei <b>x.bw2"});
    watcher.stop();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].text.indexOf("<b>x/y"), -1) << boxes[0].text.toStdString();
    EXPECT_EQ(boxes[1].text, "Syntaxerror in Datei <b>x.bw2");
    for (const Seen &box : boxes)
        EXPECT_EQ(box.format, Qt::PlainText) << box.text.toStdString();
}

namespace {

QAccessibleInterface *accessible(QObject *object)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(object);
    EXPECT_TRUE(face);
    return face;
}

} // namespace

// What a screen reader learns of the windows through Qt's accessibility.
TEST(Accessibility, everyControlIsNamedInGerman)
{
    Rig rig;
    Programm &w = *rig.window;
    struct Row { QWidget *widget; QAccessible::Role role; const char *name; const char *description; };
    const Row rows[] = {
        {&w, QAccessible::Window, "BlinkwerkV2.1", nullptr},
        {w.Check3[4], QAccessible::CheckBox, "Kanal 3, Schritt 5", nullptr},
        {w.Check1[0], QAccessible::CheckBox, "Kanal 1, Schritt 1", nullptr},
        {w.Check8[19], QAccessible::CheckBox, "Kanal 8, Schritt 20", nullptr},
        {w.Check3[20], QAccessible::CheckBox, "Kanal 3, Ausgabe", nullptr},
        {w.Check9, QAccessible::CheckBox, "Simulation", nullptr},
        {w.HScroll3, QAccessible::ScrollBar, "Akt. ab", nullptr},
        {w.HScroll2, QAccessible::ScrollBar, "Akt. bis", nullptr},
        {w.HScroll1, QAccessible::ScrollBar, "Fortsch.", nullptr},
        {w.Label12, QAccessible::StaticText, "IstSpeed", "50"},
        {w.Label14, QAccessible::StaticText, "LPTCode", ""},
        {w.Label19, QAccessible::StaticText, "Aktiv ab", "1"},
        {w.Label21, QAccessible::StaticText, "Aktiv bis", "20"},
        {w.Command1, QAccessible::Button, "Start", nullptr},
        {w.Command2, QAccessible::Button, "Stop", nullptr},
        {w.Text1, QAccessible::EditableText, "Dateiname", nullptr},
        {w.Command3, QAccessible::Button, "Speichern", nullptr},
        {w.File1, QAccessible::List, "Dateien", nullptr},
        {w.Command4, QAccessible::Button, "Laden", nullptr},
    };
    for (const Row &row : rows) {
        QAccessibleInterface *face = accessible(row.widget);
        ASSERT_TRUE(face);
        EXPECT_EQ(face->role(), row.role) << row.name;
        EXPECT_EQ(face->text(QAccessible::Name), QString::fromUtf8(row.name));
        if (row.description) {
            EXPECT_EQ(face->text(QAccessible::Description), QString::fromUtf8(row.description)) << row.name;
        }
    }
    // A drop-down list is labelled by its caption (on Unix Qt names it by
    // its current entry and gives the caption as its label).
    const std::pair<QComboBox *, const char *> lists[] = {{w.Combo1, "Speed:"}, {w.Combo2, "CPU-Zeit:"}};
    for (const auto &[combo, caption] : lists) {
        const auto labels = accessible(combo)->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1) << caption;
        EXPECT_EQ(labels.first().first->text(QAccessible::Name), caption);
        // Its popup list, focusable under Qt 6.8, is named by the caption too.
        EXPECT_EQ(accessible(combo->view())->text(QAccessible::Name) + ':', caption);
    }

    // Nothing that takes the focus goes unnamed.
    for (QWidget *widget : w.findChildren<QWidget *>())
        if (widget->focusPolicy() != Qt::NoFocus && !qobject_cast<QAbstractItemView *>(widget->parentWidget())) {
            EXPECT_FALSE(accessible(widget)->text(QAccessible::Name).trimmed().isEmpty())
                << widget->metaObject()->className() << " " << widget->objectName().toStdString();
        }

    // State and values follow the controls.
    const auto state = [&](QWidget *cell) { return accessible(cell)->state(); };
    EXPECT_FALSE(state(w.Check3[4]).checked);
    rig.click(w.Check3[4]);
    EXPECT_TRUE(state(w.Check3[4]).checked);
    EXPECT_FALSE(state(w.Check3[4]).checkStateMixed);
    w.engine().setCell(3, 4, 2);
    EXPECT_TRUE(state(w.Check3[4]).checkStateMixed) << "greyed";
    EXPECT_TRUE(state(w.Check3[20]).disabled);
    w.HScroll3->setValue(4);
    EXPECT_EQ(accessible(w.HScroll3)->valueInterface()->currentValue().toInt(), 4);
    EXPECT_EQ(accessible(w.Label19)->text(QAccessible::Description), "4");
    EXPECT_EQ(accessible(w.HScroll2)->valueInterface()->currentValue().toInt(), 20);
    EXPECT_EQ(accessible(w.Combo1)->text(QAccessible::Value), "50ms");
    w.Timer1->setHeld(true); // the ticks come from the test
    rig.click(w.Command1);
    w.engine().tick(); // step 4: nothing on
    EXPECT_EQ(accessible(w.Label14)->text(QAccessible::Description), "0");
    QTest::keyClicks(w.Text1, "lauf");
    EXPECT_EQ(accessible(w.Text1)->text(QAccessible::Value), "lauf");

    rig.click(w.Picture1);
    Info *info = w.info();
    ASSERT_TRUE(info);
    QAccessibleInterface *dialog = accessible(info);
    EXPECT_EQ(dialog->role(), QAccessible::Dialog);
    EXPECT_EQ(dialog->text(QAccessible::Name), QString::fromUtf8("Über BlinkwerkV2.1"));
    EXPECT_EQ(accessible(info->Command1)->text(QAccessible::Name), "OK");
    info->Command1->click();
    flushDeletes();
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setFont(blinkwerk::dialogFont());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
