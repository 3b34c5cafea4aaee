// Windows side of RegisterFile. Both kinds of register are mappings of a
// real one-byte file, so that the byte outlives every program that wrote it,
// as on a real port (a mapping backed by the paging file would vanish with
// its last handle):
//   - the simulated register: "lpt1-register" in the user's local
//     application data folder (Blinkwerk\ there; the temp folder when there
//     is none). The shared name is the file's full path. A new file gets an
//     access list that admits only the user who created it.
//   - BLINKWERK_LPT_REGISTER: the file that variable names.
// Every program opens the file shared for reading and writing and maps it;
// views of one file are coherent between processes.

#include "registerfile.h"

#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include <atomic>
#include <optional>
#include <memory>
#include <vector>

namespace portio {

namespace {

std::string utf8(const std::wstring &wide)
{
    if (wide.empty())
        return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(std::size_t(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), text.data(), length, nullptr, nullptr);
    return text;
}

std::wstring widen(const std::string &text)
{
    if (text.empty())
        return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

std::string lastError(const std::string &what)
{
    const DWORD code = ::GetLastError();
    wchar_t buffer[512] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, DWORD(std::size(buffer)),
                                          nullptr);
    std::string text = utf8(std::wstring(buffer, length));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return what + ": " + (text.empty() ? "error " : text + " (error ") + std::to_string(code) + (text.empty() ? "" : ")");
}

// A security descriptor whose access list admits only the user this program
// runs as, with full access. Null when the system cannot give it.
struct LocalFreeDeleter
{
    void operator()(void *memory) const { ::LocalFree(memory); }
};
using OwnedDescriptor = std::unique_ptr<void, LocalFreeDeleter>;

OwnedDescriptor onlyThisUser()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    const bool known = size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    ::CloseHandle(token);
    if (!known)
        return nullptr;
    wchar_t *sid = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &sid))
        return nullptr;
    // Protected (P): nothing is inherited from the folder.
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return OwnedDescriptor(descriptor);
}

std::wstring registerFolder()
{
    PWSTR local = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local)) && local && *local) {
        folder = std::wstring(local) + L"\\Blinkwerk";
        ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    ::CoTaskMemFree(local);
    if (folder.empty() || ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(DWORD(std::size(temp)), temp);
        folder.assign(temp, length);
        while (!folder.empty() && folder.back() == L'\\')
            folder.pop_back();
    }
    return folder;
}

// Maps the first byte of path, creating the file with one zero byte when it
// is missing and growing an empty one. security applies to a new file only.
bool mapFile(const std::string &path, SECURITY_ATTRIBUTES *security, std::string &error, unsigned char *&byte,
             HANDLE &mapping)
{
    HANDLE file = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                security, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = lastError(path);
        return false;
    }
    // Mapping one byte of an empty file grows it to one zero byte.
    mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 1, nullptr);
    if (!mapping)
        error = lastError(path);
    ::CloseHandle(file); // the mapping keeps the file open
    if (!mapping)
        return false;
    void *view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 1);
    if (!view) {
        error = lastError(path);
        ::CloseHandle(mapping);
        return false;
    }
    byte = static_cast<unsigned char *>(view);
    return true;
}

} // namespace

std::string RegisterFile::defaultSharedName()
{
    return sharedName("lpt1-register");
}

std::string RegisterFile::sharedName(const std::string &stem)
{
    return utf8(registerFolder()) + "\\" + stem;
}

std::unique_ptr<RegisterFile> RegisterFile::openShared(const std::string &name, std::string &error)
{
    OwnedDescriptor descriptor = onlyThisUser();
    SECURITY_ATTRIBUTES security {sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    unsigned char *byte = nullptr;
    HANDLE mapping = nullptr;
    if (!mapFile(name, descriptor ? &security : nullptr, error, byte, mapping)) {
        error = "simulated register " + error;
        return nullptr;
    }
    return std::unique_ptr<RegisterFile>(new RegisterFile(byte, 1, reinterpret_cast<std::intptr_t>(mapping)));
}

namespace {

// The size of path, creating it (empty) when missing; nothing and why when it
// cannot be opened or is a folder. info receives the file's identity.
std::optional<long long> registerFileSize(const std::string &path, BY_HANDLE_FILE_INFORMATION &info,
                                          std::string &error)
{
    // FILE_FLAG_BACKUP_SEMANTICS: a folder opens too and is told apart below;
    // FILE_FLAG_OPEN_REPARSE_POINT: a link is judged itself, never followed.
    const HANDLE file = ::CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = lastError(path);
        return std::nullopt;
    }
    LARGE_INTEGER size {};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0 && ::GetFileSizeEx(file, &size) != 0;
    if (!known)
        error = lastError(path);
    ::CloseHandle(file);
    if (!known)
        return std::nullopt;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = path + ": not a regular file";
        return std::nullopt;
    }
    if (size.QuadPart > 1) {
        error = path + ": holds " + std::to_string(size.QuadPart)
                + " bytes; a register file is one this program made, or an empty file or one of a single byte"
                  " (the file is left as it is)";
        return std::nullopt;
    }
    return size.QuadPart;
}

} // namespace

std::optional<std::string> RegisterFile::identity(const std::string &path, std::string &error)
{
    BY_HANDLE_FILE_INFORMATION info {};
    if (!registerFileSize(path, info, error))
        return std::nullopt;
    return "file:" + std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":"
           + std::to_string(info.nFileIndexLow);
}

std::unique_ptr<RegisterFile> RegisterFile::openFile(const std::string &path, std::string &error)
{
    BY_HANDLE_FILE_INFORMATION info {};
    if (!registerFileSize(path, info, error))
        return nullptr;
    unsigned char *byte = nullptr;
    HANDLE mapping = nullptr;
    if (!mapFile(path, nullptr, error, byte, mapping))
        return nullptr;
    return std::unique_ptr<RegisterFile>(new RegisterFile(byte, 1, reinterpret_cast<std::intptr_t>(mapping)));
}

void RegisterFile::unlinkShared(const std::string &name)
{
    ::DeleteFileW(widen(name).c_str());
}

// A read of the mapping cannot fail.
std::optional<std::uint8_t> RegisterFile::tryRead()
{
    return std::atomic_ref<unsigned char>(*m_byte).load(std::memory_order_acquire);
}

// A write to the mapping cannot fail: nothing is ever kept.
void RegisterFile::service() {}

void RegisterFile::write(std::uint8_t value)
{
    std::atomic_ref<unsigned char>(*m_byte).store(value, std::memory_order_release);
}

RegisterFile::~RegisterFile()
{
    ::UnmapViewOfFile(m_byte);
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

} // namespace portio
