#include "form1.h"
#include "outputstartup.h"
#include "programoutput.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>

#include <optional>

int main(int argc, char *argv[])
{
    blinkwerk::OutputChoice choice;
    if (const std::optional<int> status = blinkwerk::prepareOutput(argc, argv, "schaltblick", choice))
        return *status;
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("schaltblick");
    QApplication::setApplicationVersion("1.00");
    blinkwerk::ProgramOutput output(portio::OutputRole::Monitor, choice);
    Form1 window;
    window.describeOutput = [&output] { return output.session().description(); };
    window.outputStatus = [&output] { return output.session().status(); };
    // The session's reader wakes the window only when something changed.
    output.session().setChangeHandler([&window] { window.outputChanged(); });
    window.followOutput();
    blinkwerk::closeOnTerminationRequest(&window);
    window.show();
    const int status = QApplication::exec();
    output.close();
    return status;
}
