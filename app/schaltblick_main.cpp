#include "form1.h"
#include "portio.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
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
