// The user's settings file: the checks and the file's bytes are the
// platform's (usersettings_p.h); the format is QSettings' own, applied to a
// private copy of the checked bytes, so that values with quotes, escapes and
// non-ASCII characters mean exactly what QSettings wrote.

#include "usersettings.h"

#include "notice.h"
#include "usersettings_p.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <mutex>
#include <set>

namespace portio {

namespace {

std::mutex g_mutex;
std::string g_testFolder;
std::set<std::string> g_said;

// Says a line once per process.
void sayOnce(const std::string &where, const std::string &text)
{
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_said.insert(where + "\n" + text).second)
            return;
    }
    notice(where, text);
}

std::string settingsFolder()
{
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_testFolder.empty())
            return g_testFolder;
    }
    std::string passedOver;
    std::string folder = usersettings::configFolder(passedOver);
    if (!passedOver.empty())
        sayOnce("Settings", passedOver);
    return folder;
}

// The bytes of a settings file as a file QSettings can open, in a folder
// of its own that only this user may enter, removed with the object.
class ScratchCopy
{
public:
    explicit ScratchCopy(const std::string &bytes)
    {
        QFile file(path());
        m_ready = m_folder.isValid() && file.open(QIODevice::WriteOnly)
                  && file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size()) && file.flush();
    }
    bool ready() const { return m_ready; }
    QString path() const { return m_folder.filePath("blinkwerk.ini"); }
    std::optional<std::string> bytes() const
    {
        QFile file(path());
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QByteArray content = file.readAll();
        return std::string(content.constData(), std::size_t(content.size()));
    }

private:
    QTemporaryDir m_folder;
    bool m_ready = false;
};

} // namespace

std::string userSettingsFile()
{
    const std::string folder = settingsFolder();
    return folder.empty() ? std::string() : usersettings::settingsFile(folder);
}

std::optional<std::string> userSetting(const std::string &key)
{
    const std::string folder = settingsFolder();
    if (folder.empty())
        return std::nullopt;
    const usersettings::FileContent content = usersettings::readSettingsFile(folder);
    if (content.state == usersettings::FileContent::State::Refused)
        sayOnce(content.where, content.why + "; the remembered settings are ignored");
    if (content.state != usersettings::FileContent::State::Read)
        return std::nullopt;
    const ScratchCopy copy(content.bytes);
    if (!copy.ready())
        return std::nullopt;
    const QSettings settings(copy.path(), QSettings::IniFormat);
    const QVariant value = settings.value(QString::fromStdString(key));
    if (!value.isValid())
        return std::nullopt;
    return value.toString().toStdString();
}

bool setUserSetting(const std::string &key, const std::string &value)
{
    const std::string folder = settingsFolder();
    std::string where = "Settings", why = "the user has no home folder to keep settings in";
    const auto change = [&key, &value](const std::string &present, std::string &whyNot) -> std::optional<std::string> {
        const ScratchCopy copy(present);
        if (!copy.ready()) {
            whyNot = "cannot make a private copy of it";
            return std::nullopt;
        }
        {
            QSettings settings(copy.path(), QSettings::IniFormat);
            if (settings.status() != QSettings::NoError) {
                // What QSettings could not read would be lost in the new file.
                whyNot = "it cannot be read as an INI file and is left as it is";
                return std::nullopt;
            }
            settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
            settings.sync();
            if (settings.status() != QSettings::NoError) {
                whyNot = "cannot write a private copy of it";
                return std::nullopt;
            }
        }
        std::optional<std::string> bytes = copy.bytes();
        if (!bytes)
            whyNot = "cannot read its private copy back";
        return bytes;
    };
    if (!folder.empty() && usersettings::replaceSettingsFile(folder, change, where, why))
        return true;
    notice(where, why + "; " + key + " is not kept");
    return false;
}

void setUserSettingsFolderForTests(const std::string &folder)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_testFolder = folder;
}

} // namespace portio
