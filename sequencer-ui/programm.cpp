#include "programm.h"

#include "buttoncheckbox.h"
#include "clicklabel.h"
#include "dialogfont.h"
#include "info.h"
#include "patternfile.h"
#include "printable.h"
#include "steptime.h"
#include "stepclock.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QActionGroup>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QThread>
#include <QWindow>

#include <limits>

using sequencer::ChannelCount;
using sequencer::CpuTimeTable;
using sequencer::LiveColumn;
using sequencer::StepCount;
using sequencer::StepTimeTable;

namespace {

// A horizontal scroll bar whose keys go the way a platform scroll bar's
// keys go: Left and Down lower the value by one step, Right and Up raise
// it, Page Up lowers it by a page and Page Down raises it, Home and End go
// to the ends. A held Shift, Ctrl, Alt or any other modifier changes
// nothing. Qt's scroll bars come with inverted key controls, which would
// make Left raise the value. Each key triggers the same action as a click
// on an arrow or on the trough, so the bar's valueChanged handler runs just
// the same.
class StepBar final : public QScrollBar
{
public:
    explicit StepBar(QWidget *parent)
        : QScrollBar(Qt::Horizontal, parent)
    {
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        SliderAction action = SliderNoAction;
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Down: action = SliderSingleStepSub; break;
        case Qt::Key_Right:
        case Qt::Key_Up: action = SliderSingleStepAdd; break;
        case Qt::Key_PageUp: action = SliderPageStepSub; break;
        case Qt::Key_PageDown: action = SliderPageStepAdd; break;
        case Qt::Key_Home: action = SliderToMinimum; break;
        case Qt::Key_End: action = SliderToMaximum; break;
        default: QScrollBar::keyPressEvent(event); return;
        }
        triggerAction(action);
        event->accept();
    }
};

// The file list: single selection, and a pick the user can move but never
// remove. Qt's single selection clears the pick on a Ctrl+click on the
// picked entry (or Ctrl+Space) and on a click in the empty part of the
// list; "Laden" would then run with no name. Only a re-read of the folder,
// which the window mirrors from the file panel, may lose the pick.
class PatternList final : public QListWidget
{
public:
    explicit PatternList(QWidget *parent)
        : QListWidget(parent)
    {
        setSelectionMode(QAbstractItemView::SingleSelection);
    }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index, const QEvent *event) const override
    {
        const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
        if (!index.isValid() || (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)))
            return QItemSelectionModel::NoUpdate;
        return command;
    }
};

// Screen readers announce a plain top-level QWidget as a "filler"; the main
// window is a window, named by its title.
QAccessibleInterface *windowAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("Programm") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

// A value field is announced by the caption beside it; its text, which the
// program changes, is its description.
void showFieldText(QLabel *field, const QString &text)
{
    field->setText(text);
    field->setAccessibleDescription(text);
}

template<typename Widget>
Widget *place(Widget *widget, const char *name, int x, int y, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, width, height);
    return widget;
}

QLabel *captionLabel(QWidget *parent, const char *name, const char *text, int x, int y, int width, int height)
{
    auto *label = place(new QLabel(QString::fromUtf8(text), parent), name, x, y, width, height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A caption as a screen reader says it: without the trailing colon.
QString spokenCaption(const QLabel *caption)
{
    QString text = caption->text();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

// Ties a control to the caption label beside it, for assistive technology.
void captionFor(QLabel *caption, QWidget *control)
{
    caption->setBuddy(control);
    control->setAccessibleName(spokenCaption(caption));
    // A drop-down list's popup list takes the focus itself (Qt 6.8 and
    // later): it carries the caption too.
    if (auto *list = qobject_cast<QComboBox *>(control))
        list->view()->setAccessibleName(spokenCaption(caption));
}

QLabel *valueLabel(QWidget *parent, const char *name, const char *text, int x, int y, int width, int height)
{
    QLabel *label = captionLabel(parent, name, text, x, y, width, height);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
    label->setIndent(2);
    label->setAccessibleDescription(label->text());
    return label;
}

QFrame *captionlessFrame(QWidget *parent, const char *name, int x, int y, int width, int height)
{
    auto *frame = place(new QFrame(parent), name, x, y, width, height);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    return frame;
}

QScrollBar *rangeBar(QWidget *parent, const char *name, int x, int y, int value)
{
    auto *bar = place(new StepBar(parent), name, x, y, 353, 17);
    bar->setRange(1, 20);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(value);
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

QPushButton *button(QWidget *parent, const char *name, const char *text, int x, int y, int width, int height)
{
    auto *push = place(new QPushButton(QString::fromUtf8(text), parent), name, x, y, width, height);
    push->setAutoDefault(false);
    return push;
}

template<std::size_t N>
QComboBox *dropDownList(QWidget *parent, const char *name, int x, int y, const std::array<sequencer::TimeEntry, N> &entries)
{
    auto *combo = place(new QComboBox(parent), name, x, y, 73, 21);
    combo->setEditable(false);
    for (const auto &entry : entries)
        combo->addItem(QString::fromLatin1(entry.text.data(), qsizetype(entry.text.size())));
    combo->setCurrentIndex(-1);
    return combo;
}

// Runs f with the window on the window's thread: at once when the answer
// comes there, else later. The hooks answer on any thread, maybe after the
// window is gone.
template<typename F>
void onWindowThread(const QPointer<Programm> &window, F f)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    if (QThread::currentThread() == application->thread()) {
        if (window)
            f(*window);
        return;
    }
    QMetaObject::invokeMethod(application, [window, f = std::move(f)] {
        if (window)
            f(*window);
    }, Qt::QueuedConnection);
}

std::filesystem::path programFolder()
{
    return patterns::pathFromUtf8(QCoreApplication::applicationDirPath().toStdString());
}

} // namespace

Programm::Programm(const std::filesystem::path &patternFolder, QWidget *parent)
    : Programm(patterns::PatternFolder{patternFolder.empty() ? programFolder() : patternFolder, true}, parent)
{
}

Programm::Programm(const patterns::PatternFolder &patternFolder, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
    , m_filePanel(m_engine)
    , m_patternFolder(patternFolder)
{
    static const bool accessibleWindow = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    (void)accessibleWindow;
    setObjectName("Programm");
    setWindowTitle("BlinkwerkV2.1");
    setWindowIcon(QIcon(":/blinkwerk/icon.png"));
    setFont(blinkwerk::dialogFont());
    QPalette background = palette();
    background.setColor(QPalette::Window, systemColour11());
    setPalette(background);
    setAutoFillBackground(true);
    // The stored layout's place; the window manager may move it.
    setGeometry(224, 151, 438, 462);
    setFixedSize(438, 462);

    Frame1 = captionlessFrame(this, "Frame1", 8, 0, 425, 225);
    Frame2 = captionlessFrame(this, "Frame2", 8, 232, 145, 225);
    Frame3 = captionlessFrame(this, "Frame3", 160, 232, 209, 225);
    Picture1 = place(new ClickLabel(this), "Picture1", 370, 232, 65, 238);
    Picture1->setPixmap(QPixmap(":/blinkwerk/credits.png"));
    Picture1->setFocusPolicy(Qt::StrongFocus);
    Picture1->setAccessibleName(QString::fromUtf8("Über BlinkwerkV2.1"));
    m_clock = std::make_unique<sequencer::StepClock>(m_engine, m_engineLock, [this] {
        if (clockPriority)
            clockPriority();
    });
    // The clock's thread only asks for a redraw; one is enough for any
    // number of steps the window has not drawn yet.
    m_clock->stepped = [this] {
        if (!m_stepToDraw.exchange(true))
            QMetaObject::invokeMethod(this, &Programm::drawStep, Qt::QueuedConnection);
    };
    Timer1 = m_clock.get();

    createGridPanel();
    createSettingsPanel();
    createFilePanel();
    setTabOrder();
    connectEvents();
    m_engine.addObserver(this);
    m_filePanel.setChangedCallback([this] { syncFilePanel(); });
    m_filePanel.setEngineLock(&m_engineLock);
}

Programm::~Programm()
{
    m_clock.reset(); // no step after this
    Timer1 = nullptr;
    // A window destroyed without a close still switches the relays off.
    if (m_loaded && !m_unloaded)
        m_engine.shutDown();
    m_filePanel.setChangedCallback({});
    m_engine.removeObserver(this);
    if (m_info)
        delete m_info.data();
}

std::array<ButtonCheckBox *, 21> &Programm::checkArray(int channel)
{
    std::array<ButtonCheckBox *, 21> *arrays[] = {&Check1, &Check2, &Check3, &Check4,
                                                  &Check5, &Check6, &Check7, &Check8};
    return *arrays[std::clamp(channel, 1, ChannelCount) - 1];
}

QColor Programm::systemColour11()
{
    return blinkwerk::inactiveBorderColour();
}

void Programm::showErrorBox(QWidget *parent, const patterns::ErrorMessage &message)
{
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(message.title), QString::fromUtf8(message.text),
                    QMessageBox::Ok, parent);
    // The text carries a file name the user typed or found in the folder;
    // a name such as "<b>x" is shown as it is, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void Programm::createGridPanel()
{
    Label17 = captionLabel(Frame1, "Label17", "Akt. ab:", 8, 16, 37, 13);
    HScroll3 = rangeBar(Frame1, "HScroll3", 48, 16, 1);
    Label16 = captionLabel(Frame1, "Label16", "Akt. bis:", 8, 40, 38, 13);
    HScroll2 = rangeBar(Frame1, "HScroll2", 48, 40, 20);
    captionFor(Label17, HScroll3);
    captionFor(Label16, HScroll2);

    QLabel **channelLabels[] = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6, &Label7, &Label8};
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        const int y = 64 + 16 * (channel - 1);
        const QByteArray name = "Label" + QByteArray::number(channel);
        const QByteArray text = "Kanal" + QByteArray::number(channel) + ":";
        *channelLabels[channel - 1] = captionLabel(Frame1, name.constData(), text.constData(), 8, y, 36, 13);
        const QByteArray arrayName = "Check" + QByteArray::number(channel);
        auto &cells = checkArray(channel);
        for (int index = 0; index <= LiveColumn; ++index) {
            const int x = index == LiveColumn ? 400 : 64 + 16 * index;
            cells[std::size_t(index)] = place(new ButtonCheckBox(Frame1), arrayName.constData(), x, y, 17, 17);
            cells[std::size_t(index)]->setProperty("index", index);
            cells[std::size_t(index)]->setAccessibleName(
                index == LiveColumn ? QStringLiteral("Kanal %1, Ausgabe").arg(channel)
                                    : QStringLiteral("Kanal %1, Schritt %2").arg(channel).arg(index + 1));
        }
        cells[LiveColumn]->setEnabled(false);
    }

    Label15 = captionLabel(Frame1, "Label15", "Fortsch.", 8, 200, 38, 13);
    HScroll1 = rangeBar(Frame1, "HScroll1", 48, 200, 1);
    captionFor(Label15, HScroll1);
}

void Programm::createSettingsPanel()
{
    Label9 = captionLabel(Frame2, "Label9", "Speed:", 8, 16, 34, 13);
    Combo1 = dropDownList(Frame2, "Combo1", 64, 16, StepTimeTable);
    Label10 = captionLabel(Frame2, "Label10", "CPU-Zeit:", 8, 40, 46, 13);
    Combo2 = dropDownList(Frame2, "Combo2", 64, 40, CpuTimeTable);
    Label11 = captionLabel(Frame2, "Label11", "IstSpeed:", 8, 64, 45, 13);
    Label12 = valueLabel(Frame2, "Label12", "", 64, 64, 73, 17);
    Label13 = captionLabel(Frame2, "Label13", "LPTCode:", 8, 88, 48, 13);
    Label14 = valueLabel(Frame2, "Label14", "", 64, 88, 73, 17);
    Label18 = captionLabel(Frame2, "Label18", "Aktiv ab:", 8, 112, 42, 13);
    Label19 = valueLabel(Frame2, "Label19", "1", 64, 112, 73, 17);
    Label20 = captionLabel(Frame2, "Label20", "Aktiv bis:", 8, 136, 43, 13);
    Label21 = valueLabel(Frame2, "Label21", "20", 64, 136, 73, 17);
    Check9 = place(new ButtonCheckBox(Frame2), "Check9", 8, 160, 129, 17);
    Check9->setText("Simulation");
    Check9->setTristate(false);
    Command1 = button(Frame2, "Command1", "Start", 8, 184, 129, 17);
    Command2 = button(Frame2, "Command2", "Stop", 8, 200, 129, 17);
    Command2->setEnabled(false);
    captionFor(Label9, Combo1);
    captionFor(Label10, Combo2);
    captionFor(Label11, Label12);
    captionFor(Label13, Label14);
    Label14->installEventFilter(this);
    captionFor(Label18, Label19);
    captionFor(Label20, Label21);
}

void Programm::createFilePanel()
{
    Label22 = captionLabel(Frame3, "Label22", "Dateiname:", 8, 16, 54, 13);
    Text1 = place(new QLineEdit(Frame3), "Text1", 72, 16, 97, 19);
    Text1->setMaxLength(std::numeric_limits<int>::max()); // no length limit
    Label23 = valueLabel(Frame3, "Label23", ".bw2", 168, 16, 33, 19);
    Label23->setAutoFillBackground(true);
    Command3 = button(Frame3, "Command3", "Speichern", 8, 40, 193, 17);
    Command3->setEnabled(false);
    File1 = place(new PatternList(Frame3), "File1", 8, 64, 193, 123);
    const QString folder = QDir::toNativeSeparators(QString::fromStdString(patterns::utf8FromPath(m_patternFolder.folder)));
    // The tooltip names the folder as it is: escaped, so that no part of a
    // path is read as markup, and unbroken.
    File1->setToolTip(QStringLiteral("<nobr>") + folder.toHtmlEscaped() + QStringLiteral("</nobr>"));
    File1->setAccessibleName(QStringLiteral("Dateien"));
    File1->setAccessibleDescription(folder);
    Command4 = button(Frame3, "Command4", "Laden", 8, 200, 193, 17);
    Command4->setEnabled(false);
    captionFor(Label22, Text1);
}

void Programm::setTabOrder()
{
    std::vector<QWidget *> chain;
    for (int channel = 1; channel <= ChannelCount; ++channel)
        for (int index = 0; index < StepCount; ++index)
            chain.push_back(checkArray(channel)[std::size_t(index)]);
    for (QWidget *widget : std::initializer_list<QWidget *>{HScroll1, Combo1, Combo2, Command1, Command2, Check9})
        chain.push_back(widget);
    for (int channel = 1; channel <= ChannelCount; ++channel)
        chain.push_back(checkArray(channel)[LiveColumn]);
    for (QWidget *widget :
         std::initializer_list<QWidget *>{HScroll2, HScroll3, Text1, Command3, File1, Command4, Picture1})
        chain.push_back(widget);
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void Programm::connectEvents()
{
    // Every touch of the engine holds its lock: the step clock's thread
    // touches it too.
    const auto engine = [this](auto change) {
        return [this, change](auto... args) {
            const std::lock_guard lock(m_engineLock);
            change(args...);
        };
    };
    connect(Combo1, &QComboBox::activated, this,
            engine([this](int index) { m_engine.selectStepTime(std::int16_t(index)); }));
    connect(Combo2, &QComboBox::activated, this,
            engine([this](int index) { m_engine.selectCpuTime(std::int16_t(index)); }));
    connect(Command1, &QPushButton::clicked, this, engine([this](bool) { m_engine.start(); }));
    connect(Command2, &QPushButton::clicked, this, engine([this](bool) { m_engine.stop(); }));
    connect(Check9, &QCheckBox::clicked, this, engine([this](bool) { m_engine.clickSimulation(); }));
    connect(HScroll3, &QScrollBar::valueChanged, this,
            engine([this](int value) { m_engine.setFirstActiveStep(std::int16_t(value)); }));
    connect(HScroll2, &QScrollBar::valueChanged, this,
            engine([this](int value) { m_engine.setLastActiveStep(std::int16_t(value)); }));
    for (int channel = 1; channel <= ChannelCount; ++channel)
        for (int index = 0; index < StepCount; ++index)
            connect(checkArray(channel)[std::size_t(index)], &QCheckBox::clicked, this,
                    engine([this, channel, index](bool) { m_engine.clickCell(channel, index); }));
    connect(Text1, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_filePanel.setNameText(text.toStdString()); });
    connect(File1, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem *> selected = File1->selectedItems();
        if (!selected.isEmpty())
            m_filePanel.pick(File1->row(selected.first()));
        else
            syncFilePanel(); // the user never removes a pick: show it again
    });
    connect(Command3, &QPushButton::clicked, this, [this] {
        if (const auto message = m_filePanel.save())
            presentError(this, *message);
    });
    connect(Command4, &QPushButton::clicked, this, [this] {
        if (const auto message = m_filePanel.load())
            presentError(this, *message);
    });
    connect(Picture1, &ClickLabel::clicked, this, &Programm::openInfo);
}

void Programm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_loaded)
        return;
    m_loaded = true;
    {
        const std::lock_guard lock(m_engineLock);
        m_engine.startUp([this] { m_filePanel.pointAt(m_patternFolder); });
    }
    Check1[0]->setFocus(Qt::OtherFocusReason);
}

void Programm::closeEvent(QCloseEvent *event)
{
    // While the about dialog is open the window takes no input, its close
    // box and the close key included. A termination request (a signal, the
    // end of the desktop session) still closes it, so the relays go off.
    if (!isEnabled() && !m_terminating) {
        event->ignore();
        return;
    }
    if (m_info)
        m_info->close();
    if (!m_unloaded) {
        m_unloaded = true;
        const std::lock_guard lock(m_engineLock);
        m_engine.shutDown();
    }
    event->accept();
}

void Programm::closeForTermination()
{
    m_terminating = true;
    close();
}

void Programm::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A click on the disabled window while the about dialog is open hands
    // the keyboard on to the dialog, as the platform does on Windows for a
    // window that owns a dialog.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !isEnabled() && m_info)
        m_info->activateWindow();
}

void Programm::contextMenuEvent(QContextMenuEvent *event)
{
    // The background: the window itself, its frames, and the LptCode with
    // its caption; every other control keeps its own (or no) menu.
    QWidget *under = childAt(event->pos());
    if (under && under != Frame1 && under != Frame2 && under != Frame3 && under != Label13 && under != Label14) {
        event->ignore();
        return;
    }
    openOutputMenu(event->globalPos());
    event->accept();
}

Programm::OutputHooks Programm::sessionHooks(portio::OutputSession &session)
{
    OutputHooks hooks;
    hooks.list = [&session](std::function<void(OutputHooks::Entries)> done) { session.list(std::move(done)); };
    hooks.specInUse = [&session] { return session.specInUse(); };
    hooks.description = [&session] { return session.description(); };
    hooks.status = [&session] { return session.status(); };
    hooks.select = [&session](const portio::OutputSpec &spec, std::function<void(const portio::OutputSelection &)> done) {
        session.select(spec, std::move(done));
    };
    return hooks;
}

QMenu *Programm::openOutputMenu(const QPoint &globalPos)
{
    QMenu *menu = new QMenu(QStringLiteral("Ausgang"), this);
    menu->setObjectName("outputMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillOutputMenu(menu, m_outputsFound, bool(outputs.list));
    if (outputs.list) {
        // The answer may come from any thread, after the menu or the window
        // are gone.
        QPointer<QMenu> open(menu);
        outputs.list([window = QPointer<Programm>(this), open](OutputHooks::Entries entries) {
            onWindowThread(window, [open, entries = std::move(entries)](Programm &w) {
                w.m_outputsFound = entries;
                if (open)
                    w.fillOutputMenu(open, entries, false);
            });
        });
    }
    menu->popup(globalPos);
    return menu;
}

void Programm::fillOutputMenu(QMenu *menu, std::vector<portio::OutputEntry> entries, bool searching)
{
    menu->clear();
    QAction *title = menu->addAction(QStringLiteral("Ausgang"));
    title->setEnabled(false);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    menu->addSeparator();

    const std::string inUse = outputs.specInUse ? outputs.specInUse() : std::string();
    // The output in use is always there to be seen checked, also when no
    // lister finds it (a register file named on the command line).
    if (!inUse.empty() && std::none_of(entries.begin(), entries.end(), [&](const auto &e) { return e.spec == inUse; }))
        entries.insert(entries.begin(), {inUse, outputs.description ? outputs.description() : inUse});
    auto *group = new QActionGroup(menu);
    for (const portio::OutputEntry &entry : entries) {
        QAction *action = menu->addAction(QString::fromStdString(entry.description) + QLatin1Char('\t')
                                          + QString::fromStdString(entry.spec));
        // A lister may name what the user still has to complete (a GPIO
        // chip without its lines): shown, but not offered as a choice.
        std::string incomplete;
        if (!portio::parseOutputSpec(entry.spec, incomplete)) {
            action->setEnabled(false);
            continue;
        }
        action->setCheckable(true);
        action->setChecked(entry.spec == inUse);
        action->setData(QString::fromStdString(entry.spec));
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, spec = entry.spec] { chooseOutput(spec); });
    }
    if (searching) {
        QAction *looking = menu->addAction(QStringLiteral("Suche nach Ausgängen …"));
        looking->setObjectName("searching");
        looking->setEnabled(false);
    }
}

void Programm::chooseOutput(const std::string &spec)
{
    std::string error;
    const std::optional<portio::OutputSpec> output = portio::parseOutputSpec(spec, error);
    if (!output) { // the menu offers only what parses
        outputs.presentFailure(this, QString::fromStdString(spec + ": " + error));
        return;
    }
    if (!outputs.select)
        return;
    outputs.select(*output, [window = QPointer<Programm>(this), spec](const portio::OutputSelection &selection) {
        onWindowThread(window, [spec, selection](Programm &w) { w.switched(spec, selection); });
    });
}

void Programm::switched(const std::string &spec, const portio::OutputSelection &selection)
{
    refreshOutputToolTip();
    switch (selection.outcome) {
    case portio::OutputSelection::Opened:
        if (outputs.remember) {
            std::string error;
            outputs.remember(portio::formatOutputSpec(*portio::parseOutputSpec(spec, error)));
        }
        break;
    case portio::OutputSelection::FellBack:
        outputs.presentFailure(this, QStringLiteral("Der Ausgang %1 kann nicht geöffnet werden:\n%2\n\n"
                                                    "Blinkwerk nutzt jetzt: %3")
                                         .arg(QString::fromStdString(portio::printable(spec)),
                                              QString::fromStdString(portio::printable(selection.why)),
                                              QString::fromStdString(portio::printable(
                                                  outputs.description ? outputs.description() : std::string()))));
        break;
    case portio::OutputSelection::Refused:
        outputs.presentFailure(this, QStringLiteral("Der Ausgang %1 wird bereits von einem anderen laufenden "
                                                    "Blinkwerk angesteuert.\nDer bisherige Ausgang bleibt.")
                                         .arg(QString::fromStdString(portio::printable(spec))));
        break;
    }
}

void Programm::refreshOutputToolTip()
{
    QString text = QStringLiteral("Ausgang: ")
                   + QString::fromStdString(outputs.description ? outputs.description() : std::string());
    if (const std::string status = outputs.status ? outputs.status() : std::string(); !status.empty())
        text += QStringLiteral("\n") + QString::fromStdString(status);
    Label14->setToolTip(text);
}

bool Programm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label14 && event->type() == QEvent::ToolTip && m_loaded)
        refreshOutputToolTip();
    return QWidget::eventFilter(watched, event);
}

void Programm::showOutputFailureBox(QWidget *parent, const QString &text)
{
    // The text quotes outside names (a SPEC, a reason with a path): shown as
    // they are, never read as markup.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Ausgang"), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void Programm::openInfo()
{
    if (m_info)
        return;
    // Only this window is disabled: the dialog has no parent widget, which
    // would disable it along with this window, and it is not modal, so
    // other programs stay usable. For the window manager it belongs to this
    // window (its transient parent), which keeps it above this window even
    // when the disabled window is clicked.
    setEnabled(false);
    m_info = new Info();
    // The keyboard comes back to this window with its input, also where no
    // window manager hands it over.
    const auto giveBack = [this] {
        setEnabled(true);
        if (isVisible())
            activateWindow();
    };
    connect(m_info, &QDialog::finished, this, giveBack);
    connect(m_info, &QObject::destroyed, this, giveBack);
    m_info->winId();
    if (QWindow *dialog = m_info->windowHandle())
        dialog->setTransientParent(window()->windowHandle());
    m_info->show();
}

void Programm::syncFilePanel()
{
    {
        const QSignalBlocker blocker(Text1);
        const QString text = QString::fromStdString(m_filePanel.nameText());
        if (Text1->text() != text)
            Text1->setText(text);
    }
    Command3->setEnabled(m_filePanel.saveEnabled());
    Command4->setEnabled(m_filePanel.loadEnabled());

    const QSignalBlocker blocker(File1);
    const auto &entries = m_filePanel.entries();
    bool same = File1->count() == int(entries.size());
    for (int row = 0; same && row < File1->count(); ++row)
        same = File1->item(row)->text() == QString::fromStdString(entries[std::size_t(row)]);
    if (!same) {
        File1->clear();
        for (const std::string &name : entries)
            File1->addItem(QString::fromStdString(name));
    }
    const int picked = m_filePanel.pickedIndex();
    if (picked >= 0)
        File1->setCurrentRow(picked, QItemSelectionModel::ClearAndSelect);
    else
        File1->clearSelection();
}

void Programm::syncTimer()
{
    // A running clock keeps its phase unless the interval really changes.
    if (m_clock)
        m_clock->set(m_engine.timerActive(), m_engine.tickIntervalMs());
}

// A step changes the LiveColumn, the progress bar and the code; on the
// clock's thread they are only noted, and drawn by drawStep.
void Programm::cellChanged(int channel, int index)
{
    if (QThread::currentThread() != thread())
        return;
    checkArray(channel)[std::size_t(index)]->setValue(m_engine.cell(channel, index));
}

void Programm::progressSet()
{
    if (QThread::currentThread() != thread())
        return;
    HScroll1->setValue(m_engine.progress());
}

void Programm::codeTextChanged()
{
    if (QThread::currentThread() != thread())
        return;
    showFieldText(Label14, QString::fromStdString(m_engine.codeText()));
}

void Programm::drawStep()
{
    m_stepToDraw = false;
    std::array<std::int16_t, ChannelCount> live {};
    std::int16_t progress = 1;
    std::string code;
    {
        const std::lock_guard lock(m_engineLock);
        for (int channel = 1; channel <= ChannelCount; ++channel)
            live[std::size_t(channel - 1)] = m_engine.cell(channel, LiveColumn);
        progress = m_engine.progress();
        code = m_engine.codeText();
    }
    for (int channel = 1; channel <= ChannelCount; ++channel)
        checkArray(channel)[LiveColumn]->setValue(live[std::size_t(channel - 1)]);
    HScroll1->setValue(progress);
    showFieldText(Label14, QString::fromStdString(code));
}

void Programm::intervalChanged()
{
    showFieldText(Label12, QString::fromStdString(m_engine.intervalText()));
}

void Programm::timerChanged()
{
    syncTimer();
}

void Programm::transportChanged()
{
    Command1->setEnabled(m_engine.startEnabled());
    Command2->setEnabled(m_engine.stopEnabled());
}

void Programm::simulationChanged()
{
    Check9->setValue(m_engine.simulation() ? 1 : 0);
}

void Programm::firstActiveStepChanged()
{
    const QSignalBlocker blocker(HScroll3);
    HScroll3->setValue(m_engine.firstActiveStep());
    showFieldText(Label19, QString::fromStdString(m_engine.firstActiveStepText()));
}

void Programm::lastActiveStepChanged()
{
    const QSignalBlocker blocker(HScroll2);
    HScroll2->setValue(m_engine.lastActiveStep());
    showFieldText(Label21, QString::fromStdString(m_engine.lastActiveStepText()));
}

void Programm::stepTimeSelectionChanged()
{
    Combo1->setCurrentIndex(m_engine.stepTimePosition());
}

void Programm::cpuTimeSelectionChanged()
{
    Combo2->setCurrentIndex(m_engine.cpuTimePosition());
}

Info *Programm::info() const
{
    return m_info.data();
}
