// Both programs started as a user starts them: what they do with their
// command line, environment and remembered choice before and when their
// window opens.

#include "outputstartup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int TimeoutMs = 30000; // generous: a slow machine starting Qt

const char *const Programs[] = {BLINKWERK_PROGRAM, SCHALTBLICK_PROGRAM};

// A config folder and a private runtime folder of this test; the variables
// that choose an output are unset.
struct Home
{
    QTemporaryDir dir;
    QString config = dir.filePath("config");
    QString runtime = dir.filePath("run");

    Home()
    {
        QDir().mkpath(config);
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // rememberOutput of this process writes where the programs read.
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    }
    QProcessEnvironment environment(const QString &platform = "offscreen") const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("BLINKWERK_OUTPUT");
        env.remove("BLINKWERK_LPT_REGISTER");
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("QT_QPA_PLATFORM", platform);
        return env;
    }
};

struct Ran
{
    int exitCode = -1; // -1: crashed or did not end
    QString out, err;
};

Ran runToEnd(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Ran run;
    if (!process.waitForFinished(TimeoutMs))
        process.kill();
    process.waitForFinished(TimeoutMs);
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Starts program, waits for the line that says its output, ends it the
// way a desktop does and returns that line (empty when none came); before:
// what it said until then.
QString outputLine(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                   QString *before = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setReadChannel(QProcess::StandardError);
    process.start(program, arguments);
    QString err;
    qsizetype at = -1;
    while ((at = err.indexOf("Output: ")) < 0 || err.indexOf('\n', at) < 0) {
        if (!process.waitForReadyRead(TimeoutMs))
            break;
        err += QString::fromUtf8(process.readAllStandardError());
    }
    process.terminate();
    if (!process.waitForFinished(TimeoutMs))
        process.kill();
    if (before)
        *before = err.left(at);
    if (at < 0)
        return "(none) " + err;
    return err.mid(at, err.indexOf('\n', at) - at);
}

} // namespace

TEST(Programs, aWrongArgumentOrSpecEndsWithStatusTwoBeforeAnyWindow)
{
    Home home;
    // A platform that does not exist: a program that got as far as its
    // window would end on Qt's fatal error instead.
    QProcessEnvironment env = home.environment("no-such-platform");
    QProcessEnvironment badEnvironment = env;
    badEnvironment.insert("BLINKWERK_OUTPUT", "sacn:0");
    struct Case
    {
        QStringList arguments;
        const QProcessEnvironment &env;
        const char *says;
    };
    const Case cases[] = {
        {{"--output", "bogus"}, env, "--output: unknown output \"bogus\""},
        {{"--output=gpio:c:1,1"}, env, "--output: gpio line 1 is named twice"},
        {{}, badEnvironment, "BLINKWERK_OUTPUT: the universe must be"},
        {{"--outputs"}, env, "unknown argument \"--outputs\""},
    };
    for (const char *program : Programs) {
        const QString name = QFileInfo(program).baseName();
        for (const Case &c : cases) {
            const Ran run = runToEnd(program, c.arguments, c.env);
            EXPECT_EQ(run.exitCode, 2) << program << " " << c.says << "\n" << run.err.toStdString();
            EXPECT_TRUE(run.err.startsWith(name + ": " + c.says)) << run.err.toStdString();
            EXPECT_TRUE(run.err.endsWith("Try '" + name + " --help'.\n")) << run.err.toStdString();
        }
    }
}

TEST(Programs, listOutputsAndHelpPrintAndEndWithoutAWindow)
{
    Home home;
    const QProcessEnvironment env = home.environment("no-such-platform");
    const bool parallelPort = std::filesystem::exists("/dev/parport0");
    for (const char *program : Programs) {
        const Ran list = runToEnd(program, {"--list-outputs"}, env);
        EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
        const QStringList lines = list.out.split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.filter(QRegularExpression("^lpt1  +Parallelport LPT1")).size(), parallelPort ? 1 : 0)
            << list.out.toStdString();
        const QString simulated = "register:" + home.runtime + "/blinkwerk-lpt1";
        EXPECT_EQ(lines.filter(QRegularExpression("^" + QRegularExpression::escape(simulated) + "  +Simuliertes Register"))
                      .size(),
                  1)
            << list.out.toStdString();

        const Ran help = runToEnd(program, {"--help"}, env);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.startsWith("Usage: " + QFileInfo(program).baseName() + " [--output SPEC]"))
            << help.out.toStdString();
    }
}

TEST(Programs, theOutputComesFromTheFirstSourceThatNamesOne)
{
    Home home;
    const QString remembered = home.dir.filePath("remembered"), fromLptRegister = home.dir.filePath("lpt-register"),
                  fromEnvironment = home.dir.filePath("environment"), fromOption = home.dir.filePath("option");
    blinkwerk::rememberOutput(("register:" + remembered).toStdString());
    ASSERT_TRUE(QFile::exists(home.config + "/Blinkwerk/blinkwerk.ini"));

    struct Case
    {
        const char *program;
        QStringList arguments;
        std::vector<std::pair<QString, QString>> variables;
        QString chosen;
    };
    const Case cases[] = {
        {BLINKWERK_PROGRAM, {}, {}, remembered},
        {SCHALTBLICK_PROGRAM, {}, {}, remembered},
        {BLINKWERK_PROGRAM, {}, {{"BLINKWERK_LPT_REGISTER", fromLptRegister}}, fromLptRegister},
        {BLINKWERK_PROGRAM,
         {},
         {{"BLINKWERK_LPT_REGISTER", fromLptRegister}, {"BLINKWERK_OUTPUT", "register:" + fromEnvironment}},
         fromEnvironment},
        {SCHALTBLICK_PROGRAM,
         {"--output", "register:" + fromOption},
         {{"BLINKWERK_OUTPUT", "register:" + fromEnvironment}},
         fromOption},
    };
    for (const Case &c : cases) {
        QProcessEnvironment env = home.environment();
        for (const auto &[name, value] : c.variables)
            env.insert(name, value);
        EXPECT_EQ(outputLine(c.program, c.arguments, env).toStdString(), ("Output: register:" + c.chosen).toStdString())
            << c.program << " should use " << c.chosen.toStdString();
    }
}

// Settings from someone else: the INI file is a FIFO, or another user's.
// Neither program waits on it or uses it; it says so in one line and goes on
// with no remembered choice.
TEST(Programs, aSettingsFileThatCannotBeTrustedIsIgnoredWithOneLine)
{
    struct Case
    {
        const char *name;
        const char *says;
        bool onlyAsRoot;
        std::function<void(const QString &file)> plant;
    };
    const Case cases[] = {
        {"a FIFO", "not a regular file", false,
         [](const QString &file) { ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0); }},
        {"another user's file", "belongs to user 65534, not to this user", true,
         [](const QString &file) {
             QFile out(file);
             ASSERT_TRUE(out.open(QIODevice::WriteOnly));
             out.write("[General]\noutput=register:/tmp/planted\n");
             out.close();
             ASSERT_EQ(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
         }},
    };
    for (const Case &c : cases) {
        if (c.onlyAsRoot && ::geteuid() != 0)
            continue;
        for (const char *program : Programs) {
            SCOPED_TRACE(std::string(c.name) + ", " + program);
            Home home;
            const QString file = home.config + "/Blinkwerk/blinkwerk.ini";
            ASSERT_TRUE(QDir().mkpath(home.config + "/Blinkwerk"));
            c.plant(file);
            QString before;
            const QString line = outputLine(program, {}, home.environment(), &before);
            EXPECT_TRUE(line.startsWith("Output: ")) << line.toStdString();
            EXPECT_FALSE(line.contains("planted")) << line.toStdString();
            EXPECT_EQ(before.count(file + ": " + c.says + "; the remembered settings are ignored\n"), 1)
                << before.toStdString();
        }
    }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
