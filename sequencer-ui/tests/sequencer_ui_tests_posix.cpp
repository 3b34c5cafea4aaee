// The window tests' POSIX part: the grey that stands in for system colour 11,
// and termination signals sent to the real program.

#include "sequencer_ui_tests.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

QColor platformInactiveBorder()
{
    return QColor(212, 208, 200);
}

std::optional<std::string> whyCaptionsMayNotFit()
{
    return std::nullopt;
}

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

bool waitForRegister(const QString &path, int value)
{
    QElapsedTimer clock;
    clock.start();
    while (registerByte(path) != value) {
        if (clock.elapsed() > 20000)
            return false;
        QThread::msleep(10);
    }
    return true;
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

