// POSIX termination requests: a signal closes blinkwerk's main window the
// way its close box does, so the relays go off.

#include "clicklabel.h"
#include "dialogfont.h"
#include "info.h"
#include "programm.h"
#include "termination.h"

#include "childprocess.h"
#include "portio.h"
#include "recordingport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

int registerByte(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = file.readAll();
    return bytes.size() == 1 ? static_cast<unsigned char>(bytes[0]) : -1;
}

void setRegisterByte(const QString &path, char value)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write(&value, 1);
}

// Waits, woken by the file's change events, until the register holds value;
// false after 20 s.
bool waitForRegister(const QString &path, int value)
{
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0)
        return false;
    ::inotify_add_watch(watch, QFile::encodeName(path).constData(), IN_MODIFY | IN_CLOSE_WRITE);
    QElapsedTimer clock;
    clock.start();
    // Read only after the watch exists, so that no write falls between.
    bool reached = registerByte(path) == value;
    while (!reached && clock.elapsed() < 20000) {
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(20000 - clock.elapsed())) > 0) {
            char events[4096];
            [[maybe_unused]] const ssize_t got = ::read(watch, events, sizeof events);
        }
        reached = registerByte(path) == value;
    }
    ::close(watch);
    return reached;
}

} // namespace

// A termination request is a close of the window: the relays go off.
TEST(BlinkwerkProgram, terminationRequestSwitchesTheRelaysOff)
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QTemporaryDir dir;
        const QString reg = dir.filePath("register");
        setRegisterByte(reg, char(0x55));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("BLINKWERK_LPT_REGISTER", reg);
        program.setProcessEnvironment(env);
        program.start(BLINKWERK_PROGRAM, {});
        ASSERT_TRUE(program.waitForStarted());
        ASSERT_TRUE(waitForRegister(reg, 0)) << "start-up clears the port";
        // Stand in for a running pattern that left relays on; the handler is
        // installed before the window shows, and start-up runs after that.
        setRegisterByte(reg, char(0x81));
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(20000)) << "signal " << signal;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "signal " << signal;
        EXPECT_EQ(registerByte(reg), 0) << "signal " << signal;
    }
}

// In this process, with the about dialog open: the disabled window refuses
// a close by the user, but a signal still closes it and writes 0.
TEST(BlinkwerkProgram, terminationRequestClosesTheWindowWithTheDialogOpen)
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope(port);
    QTemporaryDir folder;
    Programm window(std::filesystem::path(folder.path().toStdString()));
    window.show();
    blinkwerk::closeOnTerminationRequest(&window, [&window] { window.closeForTermination(); });
    QTest::mouseClick(window.Picture1, Qt::LeftButton);
    ASSERT_TRUE(window.info());
    ASSERT_FALSE(window.isEnabled());
    const std::size_t before = port.writtenBytes().size();

    ::raise(SIGTERM);
    const bool closed = QTest::qWaitFor([&] { return !window.isVisible(); }, 20000);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
    ASSERT_TRUE(closed);
    EXPECT_EQ(window.info(), nullptr);
    ASSERT_EQ(port.writtenBytes().size(), before + 1);
    EXPECT_EQ(port.writtenBytes().back(), 0);
}

// A burst of requests fills the socket between the handler and the event
// loop, which does not run here: the handler must neither stop the thread
// it interrupts nor change the errno that thread is about to look at.
const testsupport::ChildBody signalBurst("signalBurst", [] {
    QWidget window;
    blinkwerk::closeOnTerminationRequest(&window);
    for (int i = 0; i < 20000; ++i) {
        errno = EILSEQ;
        ::raise(SIGTERM);
        if (errno != EILSEQ)
            return 1;
    }
    return 0;
});

TEST(TerminationHandler, neitherBlocksOnAFullSocketNorChangesErrno)
{
    const testsupport::ChildResult child = testsupport::runChild("signalBurst");
    EXPECT_EQ(child.status, 0) << "1: errno changed; -1: the handler hung and the child was killed\n"
                               << child.standardError;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (const std::optional<int> status = testsupport::runAsChildIfAsked(argc, argv))
        return *status;
    QApplication::setFont(blinkwerk::dialogFont());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
