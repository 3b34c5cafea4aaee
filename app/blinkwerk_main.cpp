#include "programm.h"
#include "termination.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("blinkwerk");
    QApplication::setApplicationVersion("2.10");
    Programm window;
    blinkwerk::closeOnTerminationRequest(&window);
    window.show();
    return QApplication::exec();
}
