#include "dialogfont.h"
#include "programm.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("blinkwerk");
    QApplication::setApplicationVersion("2.10");
    QApplication::setFont(blinkwerk::dialogFont());
    QApplication::setWindowIcon(QIcon(":/blinkwerk/icon.png"));
    Programm window;
    blinkwerk::closeOnTerminationRequest(&window);
    window.show();
    return QApplication::exec();
}
