#include "form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("schaltblick");
    QApplication::setApplicationVersion("1.00");
    Form1 window;
    window.show();
    return QApplication::exec();
}
