// The user's settings file on every platform: what QSettings keeps is read
// back exactly and what is written QSettings reads back exactly, with every
// other key kept; what is refused is neither read nor replaced.

#include "usersettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

// A configuration folder of this test, taken instead of the platform's.
struct ConfigFolder
{
    QTemporaryDir dir;
    QString file = dir.filePath("Blinkwerk/blinkwerk.ini");
    ConfigFolder()
    {
        QDir().mkpath(dir.filePath("Blinkwerk"));
        portio::setUserSettingsFolderForTests(QDir::toNativeSeparators(dir.path()).toStdString());
    }
    ~ConfigFolder() { portio::setUserSettingsFolderForTests({}); }
};

QString keptValue(const QString &file, const QString &key)
{
    return QSettings(file, QSettings::IniFormat).value(key).toString();
}

QByteArray contentOf(const QString &file)
{
    QFile in(file);
    return QFileInfo(file).isFile() && in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

} // namespace

TEST(UserSettings, readsAndWritesWhatQSettingsKeeps)
{
    const std::string values[] = {
        "register:/tmp/J\xc3\xbcrgen b;c\"d\\e=f,g#h",
        "line\nbreak\x1b[2J",
        "@ByteArray(not one)",
        "  blanks around  ",
        "C:\\Users\\relais",
        "",
        std::string(4000, 'x'),
    };
    for (const std::string &value : values) {
        SCOPED_TRACE(value.substr(0, 40));
        ConfigFolder config;
        {
            QSettings earlier(config.file, QSettings::IniFormat);
            earlier.setValue("output", QString::fromStdString(value));
            earlier.setValue("sacn/cid", "0a1b2c3d-0000-4000-8000-000000000001");
            earlier.setValue("window/state", QByteArray("\x01\x02", 2));
        }
        EXPECT_EQ(portio::userSetting("output"), value);
        EXPECT_EQ(portio::userSetting("sacn/cid"), "0a1b2c3d-0000-4000-8000-000000000001");
        EXPECT_EQ(portio::userSetting("missing"), std::nullopt);

        ASSERT_TRUE(portio::setUserSetting("output", value + "2"));
        EXPECT_EQ(keptValue(config.file, "output").toStdString(), value + "2");
        EXPECT_EQ(keptValue(config.file, "sacn/cid"), "0a1b2c3d-0000-4000-8000-000000000001");
        EXPECT_EQ(QSettings(config.file, QSettings::IniFormat).value("window/state").toByteArray(),
                  QByteArray("\x01\x02", 2));
    }

    ConfigFolder fresh;
    QDir(fresh.dir.path()).rmdir("Blinkwerk");
    ASSERT_TRUE(portio::setUserSetting("sacn/cid", "new"));
    EXPECT_EQ(keptValue(fresh.file, "sacn/cid"), "new");
}

TEST(UserSettings, aFileItCannotTrustIsNeitherReadNorReplaced)
{
    struct Case
    {
        const char *name;
        const char *reason;
        std::function<void(const QString &file)> plant;
    };
    const QByteArray good = "[General]\noutput=register:/planted\n";
    const Case cases[] = {
        {"a file larger than 64 KiB", "larger than 65536 bytes",
         [&](const QString &file) {
             QFile out(file);
             ASSERT_TRUE(out.open(QIODevice::WriteOnly));
             out.write(good + ";" + QByteArray(65536, 'x') + "\n");
         }},
        {"a folder in its place", "not a regular file", [](const QString &file) { QDir().mkpath(file); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ConfigFolder config;
        c.plant(config.file);
        const QByteArray before = contentOf(config.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(portio::userSetting("output"), std::nullopt);
        EXPECT_EQ(portio::userSetting("output"), std::nullopt);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.reason), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line, once:\n" << said;

        testing::internal::CaptureStderr();
        EXPECT_FALSE(portio::setUserSetting("output", "lpt1"));
        EXPECT_NE(testing::internal::GetCapturedStderr().find(c.reason), std::string::npos);
        EXPECT_EQ(contentOf(config.file), before);
    }
}
