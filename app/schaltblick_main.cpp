#include "form1.h"
#include "outputstartup.h"
#include "portio.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>
#include <QTimer>

#include <optional>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status =
            blinkwerk::prepareOutput(argc, argv, "schaltblick", portio::OutputRole::Monitor))
        return *status;
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("schaltblick");
    QApplication::setApplicationVersion("1.00");
    Form1 window;
    blinkwerk::closeOnTerminationRequest(&window);
    QTimer portService;
    QObject::connect(&portService, &QTimer::timeout, [] { portio::servicePort(); });
    portService.start(100);
    window.show();
    const int status = QApplication::exec();
    portio::closePort();
    return status;
}
