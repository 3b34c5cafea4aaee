#include "form1.h"

#include "portio.h"

#include "monitortrace.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QLabel>
#include <QTimer>

namespace {

// Screen readers announce a plain top-level QWidget as a "filler"; the
// monitor's window is a window, named by its title.
QAccessibleInterface *windowAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("Form1") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

QString lampState(int image)
{
    return image == monitor::ImageOn ? QStringLiteral("an") : QStringLiteral("aus");
}

} // namespace

ImageList::ImageList()
    : m_images{QPixmap(":/schaltblick/lamp1.png"), QPixmap(":/schaltblick/lamp2.png")}
{
}

const QPixmap &ImageList::listImage(int number) const
{
    return m_images[number == monitor::ImageOn ? 1 : 0];
}

Form1::Form1(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
    , m_monitor([] { return std::int16_t(portio::LptIn()); }, [this](int k, int image) { setIndicator(k, image); })
{
    static const bool accessibleWindow = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    (void)accessibleWindow;
    setObjectName("Form1");
    setWindowTitle("Relais Simulation");
    setWindowIcon(QIcon(":/schaltblick/icon.png"));
    setFixedSize(287, 114);

    Picture1 = new QLabel(this);
    Picture1->setObjectName("Picture1");
    Picture1->setPixmap(QPixmap(":/schaltblick/card.png"));
    Picture1->setGeometry(0, 0, 288, 114); // its last column lies outside the window
    Picture1->setAccessibleName(QStringLiteral("Relaiskarte"));

    for (int k = 0; k < monitor::LampCount; ++k) {
        QLabel *lamp = new QLabel(this);
        lamp->setObjectName("Picture2");
        lamp->setProperty("index", k);
        lamp->setGeometry(52 + 25 * k, 61, 8, 8);
        lamp->setPixmap(ImageList1.listImage(monitor::ImageOff));
        lamp->setAccessibleName(QStringLiteral("Lampe %1").arg(k + 1));
        lamp->setAccessibleDescription(lampState(monitor::ImageOff));
        lamp->raise();
        Picture2[std::size_t(k)] = lamp;
        m_shown[std::size_t(k)] = monitor::ImageOff;
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &Form1::onTimer1Tick);
    Timer1->start(10);

    // Slower than the lamps: the output's state changes seldom, and the
    // port is bound by the first tick, well before this fires.
    toolTipTimer = new QTimer(this);
    connect(toolTipTimer, &QTimer::timeout, this, &Form1::refreshToolTip);
    toolTipTimer->start(250);
}

void Form1::refreshToolTip()
{
    const std::string status = outputStatus ? outputStatus() : std::string();
    const QString text = QStringLiteral("Ausgang: ")
                         + QString::fromStdString(describeOutput ? describeOutput() : std::string())
                         + QLatin1Char('\n')
                         + (status.empty() ? QStringLiteral("zeigt den Zustand des Ausgangs selbst")
                                           : QString::fromStdString(status));
    if (text != toolTip())
        setToolTip(text);
}

Form1::~Form1() = default;

void Form1::followOutput()
{
    Timer1->stop();
    toolTipTimer->stop();
}

void Form1::outputChanged()
{
    if (!m_changeToDraw.exchange(true))
        QMetaObject::invokeMethod(this, &Form1::drawChange, Qt::QueuedConnection);
}

void Form1::drawChange()
{
    m_changeToDraw = false;
    onTimer1Tick();
    refreshToolTip();
}

bool Form1::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip)
        refreshToolTip();
    return QWidget::event(event);
}

void Form1::Scan()
{
    m_monitor.Scan();
}

void Form1::onTimer1Tick()
{
    m_monitor.tick();
}

void Form1::setIndicator(int k, int image)
{
    m_shown[std::size_t(k)] = image;
    Picture2[std::size_t(k)]->setPixmap(ImageList1.listImage(image));
    Picture2[std::size_t(k)]->setAccessibleDescription(lampState(image));
    if (k == monitor::LampCount - 1) { // Scan sets the lamps 0 to 7 in turn: all are set now
        int shown = 0;
        for (int lamp = 0; lamp < monitor::LampCount; ++lamp)
            shown |= (m_shown[std::size_t(lamp)] == monitor::ImageOn) << lamp;
        BLINKWERK_TRACE_LAMPS(shown);
    }
}
