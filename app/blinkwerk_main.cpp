#include "dialogfont.h"
#include "outputlock.h"
#include "outputstartup.h"
#include "patternfile.h"
#include "patternfolder.h"
#include "portio.h"
#include "portlock.h"
#include "programm.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <optional>

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
    // The output is settled, and a wrong one refused, before a window.
    if (const std::optional<int> status =
            blinkwerk::prepareOutput(argc, argv, "blinkwerk", portio::OutputRole::Sequencer))
        return *status;
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("blinkwerk");
    QApplication::setApplicationVersion("2.10");
    QApplication::setFont(blinkwerk::dialogFont());
    QApplication::setWindowIcon(QIcon(":/blinkwerk/icon.png"));

    // Taken before the window opens, whose first act is a port write; held
    // until main returns, after the port is closed.
    blinkwerk::OutputLock portLock;
    if (portLock.state() == portio::PortLock::State::Busy)
        return refuseSecondSequencer();
    if (portLock.state() == portio::PortLock::State::Failed)
        std::fprintf(stderr, "LPT1: cannot make sure no other blinkwerk drives the port (%s); running anyway\n",
                     portLock.error().c_str());

    // Beside a program that is not installed while the user may write
    // there, else the user's data folder, which the first save creates.
    const patterns::PatternFolder patternFolder = patterns::patternFolderFor(
        patterns::pathFromUtf8(QCoreApplication::applicationDirPath().toStdString()));
    int status = 0;
    {
        Programm window(patternFolder);
        blinkwerk::closeOnTerminationRequest(&window, [&window] { window.closeForTermination(); });
        window.outputs.remember = &blinkwerk::rememberOutput;
        window.outputs.select = [&portLock](const portio::OutputSpec &spec) { return portLock.select(spec); };
        // Backends retry and refresh on their own between port calls: a Stop
        // whose 0 met a busy port is written once the port is free again.
        QTimer portService;
        QObject::connect(&portService, &QTimer::timeout, [] { portio::servicePort(); });
        portService.start(100);
        window.show();
        status = QApplication::exec();
    } // the window's end may still write its 0
    // The last byte is out (or said to be lost) before the lock is let go;
    // nothing after this reaches the port.
    portio::closePort();
    return status;
}
