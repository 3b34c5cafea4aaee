#include "clockpriority.h"
#include "dialogfont.h"
#include "outputstartup.h"
#include "patternfile.h"
#include "patternfolder.h"
#include "programm.h"
#include "printable.h"
#include "programoutput.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <optional>

namespace {

// A second sequencer on the same device: say so and end without writing it.
// The text also goes to standard error, for a start from a terminal or a
// script, where a box nobody sees would leave the program hanging; a
// termination request closes the box.
int refuseSecondSequencer(const std::string &busy)
{
    const QString text = QStringLiteral("%1 wird bereits von einem anderen laufenden Blinkwerk angesteuert.\n"
                                        "Dieses Blinkwerk wird beendet.")
                             .arg(QString::fromStdString(portio::printable(busy)));
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Blinkwerk"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
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
    blinkwerk::OutputChoice choice;
    if (const std::optional<int> status = blinkwerk::prepareOutput(argc, argv, "blinkwerk", choice))
        return *status;
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("blinkwerk");
    QApplication::setApplicationVersion("2.10");
    QApplication::setFont(blinkwerk::dialogFont());
    QApplication::setWindowIcon(QIcon(":/blinkwerk/icon.png"));

    // Bound, with its device's lock, before the window opens, whose first
    // act is a write; closed (its last byte out) only after the window is
    // gone, and only then is the lock let go.
    blinkwerk::ProgramOutput output(portio::OutputRole::Sequencer, choice);
    if (output.bound().outcome == portio::OutputSelection::Refused)
        return refuseSecondSequencer(output.bound().busy);

    // Beside a program that is not installed while the user may write
    // there, else the user's data folder, which the first save creates.
    const patterns::PatternFolder patternFolder = patterns::patternFolderFor(
        patterns::pathFromUtf8(QCoreApplication::applicationDirPath().toStdString()));
    int status = 0;
    {
        Programm window(patternFolder);
        blinkwerk::closeOnTerminationRequest(&window, [&window] { window.closeForTermination(); });
        window.outputs = Programm::sessionHooks(output.session());
        window.outputs.remember = &blinkwerk::rememberOutput;
        window.clockPriority = blinkwerk::clockPriority();
        window.show();
        status = QApplication::exec();
    } // the window's end may still write its 0
    output.close();
    return status;
}
