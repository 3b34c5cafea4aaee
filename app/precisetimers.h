#pragma once
// Both programs live by their timers: a step of 50 ms must last 50 ms, and
// the monitor polls every 10 ms. Qt's GLib-based event loop on Linux waits
// in whole milliseconds, so a tick lands up to about a millisecond beside
// its due time; Qt's own UNIX event loop waits with nanosecond timeouts and
// wakes less often for nothing. Call before the QApplication is created; a
// QT_NO_GLIB already set by the user is left as it is.

#include <QtGlobal>

namespace blinkwerk {

inline void preferPreciseEventLoop()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
#endif
}

} // namespace blinkwerk
