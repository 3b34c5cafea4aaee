#include "form1.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("schaltblick");
    QApplication::setApplicationVersion("1.00");
    Form1 window;
    blinkwerk::closeOnTerminationRequest(&window);
    window.show();
    return QApplication::exec();
}
