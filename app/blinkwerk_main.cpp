#include "dialogfont.h"
#include "patternfile.h"
#include "patternfolder.h"
#include "portlock.h"
#include "programm.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>

namespace {

// A second sequencer on the same port: say so and end without writing it.
// The text also goes to standard error, for a start from a terminal or a
// script, where a box nobody sees would leave the program hanging; a
// termination request closes the box.
int refuseSecondSequencer()
{
    const QString text = QStringLiteral(
        "LPT1 wird bereits von einem anderen laufenden Blinkwerk angesteuert.\n"
        "Dieses Blinkwerk wird beendet.");
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Blinkwerk"), text, QMessageBox::Ok);
    blinkwerk::closeOnTerminationRequest(&box);
    // Said only now that a termination request closes the box.
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    std::fflush(stderr);
    box.exec();
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("blinkwerk");
    QApplication::setApplicationVersion("2.10");
    QApplication::setFont(blinkwerk::dialogFont());
    QApplication::setWindowIcon(QIcon(":/blinkwerk/icon.png"));

    // Taken before the window opens, whose first act is a port write; held
    // until main returns.
    const portio::PortLock portLock(portio::portLockKey());
    if (portLock.state() == portio::PortLock::State::Busy)
        return refuseSecondSequencer();
    if (portLock.state() == portio::PortLock::State::Failed)
        std::fprintf(stderr, "LPT1: cannot make sure no other blinkwerk drives the port (%s); running anyway\n",
                     portLock.error().c_str());

    // Beside a program that is not installed while the user may write
    // there, else the user's data folder, which the first save creates.
    const patterns::PatternFolder patternFolder = patterns::patternFolderFor(
        patterns::pathFromUtf8(QCoreApplication::applicationDirPath().toStdString()));
    Programm window(patternFolder);
    blinkwerk::closeOnTerminationRequest(&window, [&window] { window.closeForTermination(); });
    window.show();
    return QApplication::exec();
}
