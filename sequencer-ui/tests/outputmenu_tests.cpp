// The "Ausgang" menu of the main window, with a real output session on two
// register files: a choice switches, the old output gets 0 first, the new
// one the next byte; the window never waits for the listing or the switch.

#include "buttoncheckbox.h"
#include "programm.h"

#include "outputs.h"
#include "portio.h"
#include "stepclock.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

int byteOf(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = f.read(1);
    return bytes.size() == 1 ? static_cast<unsigned char>(bytes[0]) : -1;
}

// A right click on widget, as the platform delivers it; the menu that opened, if any.
QMenu *rightClick(Programm &w, QWidget *widget)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(widget, &event);
    return w.findChild<QMenu *>("outputMenu");
}

} // namespace

TEST(OutputMenu, aChoiceSwitchesAtOnceTheOldOutputGetsZeroAndTheNewTheNextByte)
{
    QTemporaryDir dir, patterns;
    const QString a = dir.filePath("a"), b = dir.filePath("b"), runtime = dir.filePath("run");
    // A fallback's simulated register is this test's own (POSIX).
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    const std::string specA = "register:" + a.toStdString(), specB = "register:" + b.toStdString();
    std::string error;
    portio::OutputSession session(portio::sessionSetup(portio::OutputRole::Sequencer));
    ASSERT_EQ(session.bind(*portio::parseOutputSpec(specA, error), false).outcome, portio::OutputSelection::Opened);
    const portio::ScopedPortBackend route(session.port());

    std::vector<std::string> remembered;
    QStringList failures;
    {
        Programm w(patterns.path().toStdString());
        w.outputs = Programm::sessionHooks(session);
        w.outputs.list = [&](std::function<void(std::vector<portio::OutputEntry>)> done) {
            done({{specA, "Register A"}, {specB, "Register B"}, {"gpio:gpiochip0:", "GPIO-Chip gpiochip0"}});
        };
        w.outputs.remember = [&](const std::string &spec) { remembered.push_back(spec); };
        w.outputs.presentFailure = [&](QWidget *, const QString &text) { failures << text; };
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        w.Check1[0]->click(); // step 1: 1
        w.Check2[1]->click(); // step 2: 2
        w.Timer1->setHeld(true); // the ticks come from the test
        w.Command1->click();
        w.engine().tick();
        EXPECT_EQ(byteOf(a), 1);

        // Cells have no menu of their own, and the background's is not theirs.
        EXPECT_FALSE(rightClick(w, w.Check1[5]));
        for (QWidget *where : {static_cast<QWidget *>(w.Label13), static_cast<QWidget *>(&w)}) {
            QMenu *menu = rightClick(w, where);
            ASSERT_TRUE(menu) << where->objectName().toStdString();
            menu->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QMenu *menu = rightClick(w, w.Label14);
        ASSERT_TRUE(menu);
        const QList<QAction *> actions = menu->actions();
        ASSERT_EQ(actions.size(), 5); // title, separator, A, B, the chip still to be completed
        EXPECT_EQ(actions[0]->text(), "Ausgang");
        EXPECT_FALSE(actions[0]->isEnabled());
        EXPECT_TRUE(actions[1]->isSeparator());
        EXPECT_EQ(actions[2]->text(), "Register A\t" + QString::fromStdString(specA));
        EXPECT_TRUE(actions[2]->isChecked());
        EXPECT_FALSE(actions[3]->isChecked());
        EXPECT_TRUE(actions[3]->isEnabled());
        EXPECT_FALSE(actions[4]->isEnabled()) << "a spec that does not parse is shown, not offered";

        actions[3]->trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !remembered.empty(); }, 5000)) << "the switch answers";
        EXPECT_EQ(byteOf(a), 0) << "the old output is switched off";
        EXPECT_EQ(byteOf(b), 0) << "the new output starts dark";
        w.engine().tick();
        EXPECT_EQ(byteOf(b), 2) << "the next step goes to the new output";
        EXPECT_EQ(byteOf(a), 0);
        EXPECT_EQ(remembered, std::vector<std::string>{specB});
        EXPECT_EQ(w.Label14->toolTip(), "Ausgang: " + QString::fromStdString(specB));
        EXPECT_TRUE(failures.isEmpty());

        // An output that cannot be opened: said in the window, the simulated
        // register serves, nothing is remembered.
        const QString missing = dir.filePath("no/such/c");
        w.chooseOutput("register:" + missing.toStdString());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !failures.isEmpty(); }, 5000));
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures[0].startsWith("Der Ausgang register:" + missing + " kann nicht geöffnet werden:\n"))
            << failures[0].toStdString();
        EXPECT_TRUE(failures[0].contains("\n\nBlinkwerk nutzt jetzt: simuliertes Register ")) << failures[0].toStdString();
        EXPECT_EQ(byteOf(b), 0);
        EXPECT_EQ(remembered.size(), 1u);
        w.close();
    }
    session.close();
    qunsetenv("XDG_RUNTIME_DIR");
}
