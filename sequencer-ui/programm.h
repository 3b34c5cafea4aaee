#pragma once
// Programm, the main window of blinkwerk: the step grid with its range and
// progress bars, the settings and transport panel, the file panel and the
// credits strip that opens the about dialog.
//
// The window holds no rules of its own. It presents the sequencer engine
// and the file panel and forwards the user's events to them. The engine's
// steps are played by the step clock on a thread of its own (Timer1), so
// the window only draws: every touch of the engine, the window's and the
// clock's, holds the engine's lock, and what a step changed is drawn when
// the window's thread gets to it. The controls are public members under
// their layout names, as a form designer would give them; their objectName
// is the same (array elements also carry their index in the property
// "index").

#include "filepanel.h"
#include "patternfolder.h"
#include "outputs.h"
#include "sequencer.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

class ButtonCheckBox;
class ClickLabel;
class Info;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollBar;
namespace sequencer {
class StepClock;
}

class Programm : public QWidget, private sequencer::SequencerObserver
{
    Q_OBJECT
public:
    // patternFolder: where the file panel lists, saves and loads patterns,
    // and whether a save creates it first (the data folder). A path is a
    // folder that exists; by default the folder that holds the program file.
    explicit Programm(const patterns::PatternFolder &patternFolder, QWidget *parent = nullptr);
    explicit Programm(const std::filesystem::path &patternFolder = {}, QWidget *parent = nullptr);
    ~Programm() override;

    // The engine; its lock must be held while another thread may touch it
    // (the step clock, unless held).
    sequencer::Sequencer &engine() { return m_engine; }
    std::mutex &engineLock() { return m_engineLock; }
    Info *info() const; // the open about dialog, or null

    // The grid cells of channel 1 to 8: Check1 to Check8, indexes 0 to 20.
    std::array<ButtonCheckBox *, 21> &checkArray(int channel);

    // How the pattern files' errors reach the user: a modal box with the
    // error icon by default. Tests may watch it.
    using ErrorPresenter = std::function<void(QWidget *parent, const patterns::ErrorMessage &)>;
    static void showErrorBox(QWidget *parent, const patterns::ErrorMessage &message);

    // The background of the window, the frames and Label23: the system
    // colour of an inactive window border (212, 208, 200 off Windows).
    static QColor systemColour11();

    // --- the controls -------------------------------------------------------
    QFrame *Frame1; // grid panel
    QFrame *Frame2; // settings and transport panel
    QFrame *Frame3; // file panel
    ClickLabel *Picture1; // credits strip, opens Info

    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8; // "Kanal1:" ...
    QLabel *Label9, *Label10, *Label11, *Label13, *Label15, *Label16, *Label17, *Label18, *Label20, *Label22;
    QLabel *Label12; // "IstSpeed:" value
    QLabel *Label14; // "LPTCode:" value
    QLabel *Label19; // FirstActiveStep value
    QLabel *Label21; // LastActiveStep value
    QLabel *Label23; // ".bw2"

    std::array<ButtonCheckBox *, 21> Check1, Check2, Check3, Check4, Check5, Check6, Check7, Check8;
    ButtonCheckBox *Check9; // "Simulation"

    QScrollBar *HScroll1; // progress
    QScrollBar *HScroll2; // LastActiveStep, "Akt. bis:"
    QScrollBar *HScroll3; // FirstActiveStep, "Akt. ab:"
    QComboBox *Combo1;    // step time
    QComboBox *Combo2;    // correction ("CPU-Zeit:")
    QPushButton *Command1; // "Start"
    QPushButton *Command2; // "Stop"
    QLineEdit *Text1;      // pattern name
    QPushButton *Command3; // "Speichern"
    QListWidget *File1;    // pattern files
    QPushButton *Command4; // "Laden"
    sequencer::StepClock *Timer1; // the step clock

    // Asks for the step clock's priority and says once what it got; run on
    // the clock's thread when it first runs. The program sets it before the
    // window is shown.
    std::function<void()> clockPriority;

    ErrorPresenter presentError = &Programm::showErrorBox;

    // --- the output ---------------------------------------------------------
    // A right click on the window's background, on "LPTCode:" or on its value
    // (Label14) opens the menu "Ausgang": the outputs found, the one in use
    // checked. A choice switches (see portio::OutputSession::select), is
    // remembered, and a failure is shown. Listing and switching may wait on
    // devices, so the hooks do both without waiting and answer later, on any
    // thread; the window takes the answer on its own thread. The program
    // binds the hooks to its output session (sessionHooks); tests replace
    // them. Unset hooks list nothing and switch nothing.
    struct OutputHooks
    {
        using Entries = std::vector<portio::OutputEntry>;
        std::function<void(std::function<void(Entries)> done)> list;
        std::function<std::string()> specInUse;
        std::function<std::string()> description; // German
        std::function<std::string()> status;
        std::function<void(const portio::OutputSpec &, std::function<void(const portio::OutputSelection &)> done)>
            select;
        std::function<void(const std::string &spec)> remember; // none: not remembered
        std::function<void(QWidget *parent, const QString &text)> presentFailure = &Programm::showOutputFailureBox;
    };
    OutputHooks outputs;
    static OutputHooks sessionHooks(portio::OutputSession &session);
    static void showOutputFailureBox(QWidget *parent, const QString &text);

    // Opens the menu "Ausgang" at globalPos with the outputs found last (the
    // one in use at least) and looks for outputs anew; what it finds
    // replaces the entries while the menu is open. It closes itself after a
    // choice and is deleted then. Returned for tests.
    QMenu *openOutputMenu(const QPoint &globalPos);
    // What a choice of spec in that menu does. The switch happens on the
    // session's worker; its outcome comes back to this window's thread.
    void chooseOutput(const std::string &spec);
    // Label14's tooltip names the output in use (and what the output says
    // of itself); set after each switch and just before it shows, never
    // before the window's load has bound the port.
    void refreshOutputToolTip();
public slots:
    // The close of a termination request (a signal, the end of the desktop
    // session, the task manager): the unload runs as for any close, and it
    // goes through also while Info has the window disabled, where a close
    // by the user is refused. The program's termination handling calls it.
    void closeForTermination();

protected:
    // The load runs once, when the window is first shown: 0 to the port,
    // File1 to its folder, the first step time and correction picked, and
    // the focus on the first cell. Before that the window is in its state
    // at creation.
    void showEvent(QShowEvent *event) override;
    // The unload: 0 to the port, running or not; an open Info closes too.
    // While Info is open (the window disabled) a close by the user is
    // refused; closeForTermination() goes through.
    void closeEvent(QCloseEvent *event) override;
    // An activation of the window while Info is open passes on to Info.
    void changeEvent(QEvent *event) override;
    // The "Ausgang" menu, for the background, Label13 and Label14.
    void contextMenuEvent(QContextMenuEvent *event) override;
    // Label14's tooltip is brought up to date just before it shows.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createGridPanel();
    void createSettingsPanel();
    void createFilePanel();
    void setTabOrder();
    void connectEvents();
    void openInfo();
    void syncFilePanel();
    void syncTimer();
    void fillOutputMenu(QMenu *menu, std::vector<portio::OutputEntry> entries, bool searching);
    // What a step changed, drawn on the window's thread.
    void drawStep();
    void switched(const std::string &spec, const portio::OutputSelection &selection);

    // SequencerObserver
    void cellChanged(int channel, int index) override;
    void progressSet() override;
    void codeTextChanged() override;
    void intervalChanged() override;
    void timerChanged() override;
    void transportChanged() override;
    void simulationChanged() override;
    void firstActiveStepChanged() override;
    void lastActiveStepChanged() override;
    void stepTimeSelectionChanged() override;
    void cpuTimeSelectionChanged() override;

    sequencer::Sequencer m_engine;
    std::mutex m_engineLock;
    std::atomic<bool> m_stepToDraw {false};
    patterns::FilePanel m_filePanel;
    patterns::PatternFolder m_patternFolder;
    QPointer<Info> m_info;
    std::vector<portio::OutputEntry> m_outputsFound; // by the last listing
    bool m_loaded = false;
    bool m_unloaded = false;
    bool m_terminating = false;
    std::unique_ptr<sequencer::StepClock> m_clock; // last: ends before everything it touches
};
