// Windows side of the pattern folder: a trial file for writability, the
// Program Files folders, the known folder LocalAppData, and the creation of
// the data folder.
//
// Writability is tried, not computed: ACLs with inherited and denied
// entries, UAC file virtualization and controlled folder access make an
// access check answer differently from the create that follows.

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include "patternfolder.h"

#include <string>

namespace fs = std::filesystem;

namespace patterns {

namespace {

// FOLDERID_LocalAppData, spelled out so that no GUID library is needed.
const GUID LocalAppDataId = {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

bool isFolder(const fs::path &path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring widen(const char *ascii)
{
    std::wstring wide;
    for (; *ascii; ++ascii)
        wide += wchar_t(static_cast<unsigned char>(*ascii));
    return wide;
}

} // namespace

std::optional<fs::path> processEnvironment(const char *name)
{
    const std::wstring wideName = widen(name);
    ::SetLastError(ERROR_SUCCESS);
    DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0)
        return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<fs::path>(fs::path());
    // The value may change between the two calls; retry with the new size.
    for (;;) {
        std::wstring value(size, L'\0');
        const DWORD got = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
        if (got == 0)
            return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<fs::path>(fs::path());
        if (got < size) {
            value.resize(got);
            return fs::path(value);
        }
        size = got;
    }
}

bool canCreateFilesIn(const fs::path &folder)
{
    if (folder.empty() || !isFolder(folder))
        return false;
    const std::wstring stem = L".blinkwerk-write-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        const fs::path trial = folder / (stem + std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(attempt));
        // Deleted by the system when the handle closes, also if this
        // process dies before it gets there.
        const HANDLE handle = ::CreateFileW(trial.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN
                                                | FILE_FLAG_DELETE_ON_CLOSE,
                                            nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

bool isSameFolder(const fs::path &a, const fs::path &b)
{
    if (a.empty() || b.empty() || !isFolder(a) || !isFolder(b))
        return false;
    // The file system's own answer first: one volume, one file index; it
    // sees through short names and links.
    const auto identity = [](const fs::path &path, BY_HANDLE_FILE_INFORMATION &info) {
        const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        const bool got = ::GetFileInformationByHandle(handle, &info) != 0;
        ::CloseHandle(handle);
        return got;
    };
    BY_HANDLE_FILE_INFORMATION first {}, second {};
    if (identity(a, first) && identity(b, second))
        return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber
               && first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
    // Else the names, with case and a trailing separator ignored.
    std::wstring left = a.lexically_normal().wstring(), right = b.lexically_normal().wstring();
    while (!left.empty() && (left.back() == L'\\' || left.back() == L'/'))
        left.pop_back();
    while (!right.empty() && (right.back() == L'\\' || right.back() == L'/'))
        right.pop_back();
    return ::CompareStringOrdinal(left.c_str(), int(left.size()), right.c_str(), int(right.size()), TRUE)
           == CSTR_EQUAL;
}

InstallFolders installFolders(const EnvironmentLookup &lookup)
{
    InstallFolders places;
    places.withSubfolders = true;
    for (const char *name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"})
        if (const auto folder = lookup(name); folder && folder->is_absolute())
            places.folders.push_back(*folder);
    return places;
}

fs::path userDataFolder(const EnvironmentLookup &lookup)
{
    PWSTR known = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(LocalAppDataId, KF_FLAG_DEFAULT, nullptr, &known);
    fs::path base;
    if (SUCCEEDED(result) && known && *known)
        base = fs::path(known);
    ::CoTaskMemFree(known); // also owed when the call failed
    if (base.empty()) {
        if (const auto fromEnvironment = lookup("LOCALAPPDATA"); fromEnvironment && fromEnvironment->is_absolute())
            base = *fromEnvironment;
    }
    if (base.empty())
        return {};
    return base / L"Blinkwerk";
}

std::error_code createDataFolder(const fs::path &folder)
{
    if (folder.empty())
        return std::make_error_code(std::errc::no_such_file_or_directory);
    // The new folders inherit the ACL of the user's profile, which only the
    // user (and the system and administrators) may enter.
    std::error_code error;
    fs::create_directories(folder, error);
    if (isFolder(folder))
        return {};
    return error ? error : std::make_error_code(std::errc::not_a_directory);
}

} // namespace patterns
