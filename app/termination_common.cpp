#include "termination_common.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

namespace blinkwerk {

namespace {
QPointer<QWidget> g_window;
std::function<void()> g_close;
} // namespace

void setTerminationTarget(QWidget *window, std::function<void()> close)
{
    g_window = window;
    g_close = std::move(close);
}

QWidget *terminationWindow()
{
    return g_window.data();
}

void endByTerminationRequest()
{
    if (g_window) {
        if (g_close)
            g_close();
        else
            g_window->close();
    }
    // A modal box (a load error, say) would keep the program alive after its
    // window closed; quit() ends its event loop too.
    QCoreApplication::quit();
}

} // namespace blinkwerk
