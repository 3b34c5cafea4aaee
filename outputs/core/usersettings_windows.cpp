// Windows side of the user's settings file: the roaming application data
// folder as QSettings finds it. The file is opened as itself, never through
// a reparse point (a symbolic link, a junction, a mount point), which is
// refused like anything but an ordinary file. Ownership is not checked: the
// profile folder's access control keeps other users out of it.

#include "usersettings_p.h"

#include "usersettings.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <chrono>
#include <thread>
#include <utility>

namespace portio::usersettings {

namespace {

constexpr const char *FolderName = "Blinkwerk";
constexpr const char *FileName = "blinkwerk.ini";
constexpr const char *LinkReason = "a link (reparse point), which is not followed";

std::wstring wide(const std::string &text)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(std::size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), result.data(), length);
    return result;
}

std::string narrow(const wchar_t *text)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return {};
    std::string result(std::size_t(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.resize(std::size_t(length - 1));
    return result;
}

std::string systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                              | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = length ? narrow(text) : std::string();
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(code) : message;
}

std::string joined(const std::string &folder, const char *name)
{
    return folder.back() == '\\' || folder.back() == '/' ? folder + name : folder + "\\" + name;
}

class Handle
{
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Handle()
    {
        if (valid())
            ::CloseHandle(m_handle);
    }
    Handle(Handle &&other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    Handle &operator=(Handle &&other) noexcept
    {
        std::swap(m_handle, other.m_handle);
        return *this;
    }
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

bool isMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Empty when path is a folder; else why not, with missing set when there is nothing.
std::string folderReason(const std::string &path, bool &missing)
{
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        missing = isMissing(error);
        return systemMessage(error);
    }
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? std::string() : "not a folder";
}

// The settings file in the folder at folderPath, which is a folder.
FileContent readIn(const std::string &folderPath)
{
    const std::string path = joined(folderPath, FileName);
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return isMissing(error) ? FileContent() : FileContent::refused(path, systemMessage(error));
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FileContent::refused(path, LinkReason);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return FileContent::refused(path, "not a regular file");
    // FILE_FLAG_OPEN_REPARSE_POINT: a link put there meanwhile is opened as
    // itself and refused below.
    constexpr DWORD Sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const Handle file(::CreateFileW(wide(path).c_str(), GENERIC_READ, Sharing, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        return isMissing(error) ? FileContent() : FileContent::refused(path, systemMessage(error));
    }
    BY_HANDLE_FILE_INFORMATION information {};
    if (!::GetFileInformationByHandle(file.get(), &information))
        return FileContent::refused(path, systemMessage(::GetLastError()));
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FileContent::refused(path, LinkReason);
    if (::GetFileType(file.get()) != FILE_TYPE_DISK || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileContent::refused(path, "not a regular file");
    if (information.nNumberOfLinks != 1)
        return FileContent::refused(path, "has " + std::to_string(information.nNumberOfLinks)
                                 + " hard links, only a file with one is read");
    const std::string tooLarge = "larger than " + std::to_string(MaxSettingsSize) + " bytes";
    if (information.nFileSizeHigh != 0 || information.nFileSizeLow > MaxSettingsSize)
        return FileContent::refused(path, tooLarge);
    FileContent content;
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
            return FileContent::refused(path, systemMessage(::GetLastError()));
        if (got == 0)
            break;
        content.bytes.append(buffer, got);
        if (content.bytes.size() > MaxSettingsSize)
            return FileContent::refused(path, tooLarge);
    }
    content.state = FileContent::State::Read;
    return content;
}

// Held while the file is read and replaced: a file nobody else may open
// meanwhile, gone when closed. Waits up to about a second for another
// program of the user's that replaces the file at that moment.
Handle lockAgainstOtherWriters(const std::string &folderPath)
{
    const std::wstring path = wide(joined(folderPath, FileName)) + L".writing";
    for (int attempt = 0; attempt < 100; ++attempt) {
        Handle lock(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (lock.valid())
            return lock;
        if (::GetLastError() != ERROR_SHARING_VIOLATION && ::GetLastError() != ERROR_ACCESS_DENIED)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Handle();
}

} // namespace

std::string configFolder(std::string &)
{
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DONT_VERIFY, nullptr, &path)))
        folder = narrow(path);
    ::CoTaskMemFree(path);
    return folder;
}

std::string settingsFile(const std::string &folder)
{
    return joined(joined(folder, FolderName), FileName);
}

FileContent readSettingsFile(const std::string &folder)
{
    bool missing = false;
    std::string why = folderReason(folder, missing);
    if (!why.empty())
        return missing ? FileContent() : FileContent::refused(folder, why);
    const std::string ownPath = joined(folder, FolderName);
    why = folderReason(ownPath, missing);
    if (!why.empty())
        return missing ? FileContent() : FileContent::refused(ownPath, why);
    return readIn(ownPath);
}

bool replaceSettingsFile(const std::string &folder, const Change &change, std::string &where, std::string &why)
{
    where = folder;
    const std::string ownPath = joined(folder, FolderName);
    for (const std::string &path : {folder, ownPath}) {
        where = path;
        if (!::CreateDirectoryW(wide(path).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            why = "cannot make the folder: " + systemMessage(::GetLastError());
            return false;
        }
        bool missing = false;
        why = folderReason(path, missing);
        if (!why.empty())
            return false;
    }
    where = joined(ownPath, FileName);
    const Handle lock = lockAgainstOtherWriters(ownPath);
    if (!lock.valid()) {
        why = "another program of this user's keeps writing it";
        return false;
    }
    const FileContent present = readIn(ownPath);
    const std::optional<std::string> next = changed(present, change, why);
    if (!next)
        return false;
    // A new file beside it, moved over it: a reader finds the old file or
    // the new one, never a part.
    const std::wstring target = wide(where);
    std::wstring temporary;
    DWORD error = ERROR_SUCCESS;
    bool written = false;
    for (int attempt = 0; attempt < 10 && !written; ++attempt) {
        temporary = target + L".new-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
        const Handle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            error = ::GetLastError();
            if (error != ERROR_FILE_EXISTS)
                break;
            continue;
        }
        DWORD wrote = 0;
        written = ::WriteFile(file.get(), next->data(), DWORD(next->size()), &wrote, nullptr) && wrote == next->size()
                  && ::FlushFileBuffers(file.get());
        if (!written) {
            error = ::GetLastError();
            break;
        }
    }
    if (written && ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (written)
        error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    why = systemMessage(error);
    return false;
}

} // namespace portio::usersettings
