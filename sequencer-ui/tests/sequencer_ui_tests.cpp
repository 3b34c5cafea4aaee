#include "buttoncheckbox.h"
#include "dialogfont.h"
#include "clicklabel.h"
#include "info.h"
#include "programm.h"
#include "sequencer_ui_tests.h"
#include "steptimer.h"

#include "portio.h"
#include "recordingport.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

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
    rig.click(w.Command4);
    QTest::qWait(50); // a second box would show here
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
        rig.click(rig.window->Check1[0]);
        if (running) {
            rig.click(rig.window->Command1);
            ASSERT_TRUE(QTest::qWaitFor([&] { return rig.port.writtenBytes().size() >= 2; }, 10000));
        }
        rig.window->close();
        const auto bytes = rig.port.writtenBytes();
        EXPECT_EQ(bytes.back(), 0);
        EXPECT_EQ(bytes.size(), running ? bytes.size() : 2u);
        EXPECT_FALSE(rig.window->Timer1->isActive());
    }
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

TEST(Info, okHasTheFocusSoEnterSpaceAndEscapeClose)
{
    Rig rig;
    Programm &w = *rig.window;
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space, Qt::Key_Escape}) {
        rig.click(w.Picture1);
        Info *info = w.info();
        ASSERT_TRUE(info);
        QApplication::setActiveWindow(info);
        ASSERT_TRUE(QTest::qWaitForWindowActive(info));
        EXPECT_EQ(QApplication::focusWidget(), info->Command1);
        QTest::keyClick(QApplication::focusWidget(), key);
        flushDeletes();
        EXPECT_EQ(w.info(), nullptr) << "key " << key;
        EXPECT_TRUE(w.isEnabled()) << "key " << key;
    }
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

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setFont(blinkwerk::dialogFont());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
