#include "termination.h"

#include <QCoreApplication>
#include <QWidget>

namespace blinkwerk {

void closeForTermination(QWidget *window)
{
    if (window) {
        window->setProperty(TerminationProperty, true);
        window->close();
    }
    // A modal box (a load error, say) would keep the program alive after its
    // window closed; quit() ends its event loop too.
    QCoreApplication::quit();
}

} // namespace blinkwerk
