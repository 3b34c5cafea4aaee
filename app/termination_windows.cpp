// Windows side of the termination request.
//
// A GUI program gets no console-control events when the session ends; it
// gets WM_QUERYENDSESSION and then WM_ENDSESSION on each of its top-level
// windows, and once WM_ENDSESSION has been answered the process may be ended
// at any moment. Qt answers both but closes no window, so the window's close
// handling (which switches the relays off) would never run. A native event
// filter closes the window while WM_ENDSESSION is handled, before it is
// answered.
//
// The task manager's "End task" sends WM_CLOSE. Qt turns that into a close
// of the window as a click on the close box would, but the main window
// refuses a close while it is disabled by its about dialog. The user's own
// closes (close box, Alt+F4, the system menu) arrive as WM_SYSCOMMAND
// SC_CLOSE, whose default handling then sends WM_CLOSE; a WM_CLOSE without
// it comes from another program and is treated as a termination request
// when the window is disabled (an enabled window closes anyway).

#include "termination.h"
#include "termination_common.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWidget>

#include <utility>

#include <windows.h>

namespace blinkwerk {

namespace {

class SessionEndFilter final : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override
    {
        QWidget *window = terminationWindow();
        if (eventType != "windows_generic_MSG" || !window)
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        switch (msg->message) {
        case WM_ENDSESSION:
            // Sent to every top-level window, Qt's hidden ones included;
            // the first one closes the window, synchronously.
            if (msg->wParam && !m_closed) {
                m_closed = true;
                endByTerminationRequest();
            }
            return false; // Qt's own handling follows
        case WM_SYSCOMMAND:
            if ((msg->wParam & 0xFFF0) == SC_CLOSE && isMainWindow(msg->hwnd))
                m_userClose = true;
            return false;
        case WM_CLOSE: {
            const bool byUser = std::exchange(m_userClose, false);
            if (!byUser && !m_closed && isMainWindow(msg->hwnd) && !window->isEnabled()) {
                m_closed = true;
                endByTerminationRequest();
                *result = 0;
                return true;
            }
            return false;
        }
        default:
            return false;
        }
    }

private:
    static bool isMainWindow(HWND hwnd)
    {
        QWidget *window = terminationWindow();
        return window && window->testAttribute(Qt::WA_WState_Created)
               && reinterpret_cast<HWND>(window->winId()) == hwnd;
    }

    bool m_closed = false;
    bool m_userClose = false; // an SC_CLOSE was seen; its WM_CLOSE follows
};

} // namespace

void closeOnTerminationRequest(QWidget *window, std::function<void()> close)
{
    setTerminationTarget(window, std::move(close));
    static SessionEndFilter filter;
    QCoreApplication::instance()->installNativeEventFilter(&filter);
}

} // namespace blinkwerk
