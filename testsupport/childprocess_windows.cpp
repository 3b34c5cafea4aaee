// Windows side of the child-process helper: CreateProcessW of this program
// with an environment block of its own, standard error into a scratch file,
// and a bounded wait.

#include "childprocess.h"

#include <windows.h>

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport {

std::string childArgument(const std::string &name);

namespace {

constexpr DWORD WaitLimitMs = 60'000;

std::wstring wide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(std::size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), length);
    return text;
}

bool sameName(std::wstring_view entry, const std::wstring &name)
{
    if (entry.size() <= name.size() || entry[name.size()] != L'=')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::towupper(entry[i]) != std::towupper(name[i]))
            return false;
    return true;
}

} // namespace

ChildResult runChild(const std::string &name, const Environment &environment)
{
    ChildResult result;

    // The new environment block: ours without the overridden names, then
    // the given variables; entries end with a NUL, the block with another.
    std::wstring block;
    if (wchar_t *strings = ::GetEnvironmentStringsW()) {
        for (const wchar_t *entry = strings; *entry; entry += std::wcslen(entry) + 1) {
            bool replaced = false;
            for (const auto &[key, value] : environment)
                replaced = replaced || sameName(entry, wide(key));
            if (!replaced)
                block.append(entry).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(strings);
    }
    for (const auto &[key, value] : environment)
        block.append(wide(key + "=" + value)).push_back(L'\0');
    block.push_back(L'\0');

    wchar_t self[MAX_PATH * 4];
    const DWORD selfLength = ::GetModuleFileNameW(nullptr, self, DWORD(std::size(self)));
    wchar_t tempFolder[MAX_PATH + 1];
    ::GetTempPathW(DWORD(std::size(tempFolder)), tempFolder);
    const std::wstring errPath = std::wstring(tempFolder) + L"blinkwerk-child-"
                                 + std::to_wstring(::GetCurrentProcessId()) + L".err";

    SECURITY_ATTRIBUTES inheritable {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE err = ::CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (err == INVALID_HANDLE_VALUE)
        return result;

    std::wstring commandLine = L"\"" + std::wstring(self, selfLength) + L"\" " + wide(childArgument(name));
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = err;
    PROCESS_INFORMATION process {};
    std::fflush(nullptr);
    const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &process);
    ::CloseHandle(err);
    if (started) {
        if (::WaitForSingleObject(process.hProcess, WaitLimitMs) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.hProcess, DWORD(-1));
            ::WaitForSingleObject(process.hProcess, WaitLimitMs);
        } else {
            DWORD code = DWORD(-1);
            ::GetExitCodeProcess(process.hProcess, &code);
            result.status = int(code);
        }
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    std::ifstream in(std::filesystem::path(errPath), std::ios::binary);
    result.standardError.assign(std::istreambuf_iterator<char>(in), {});
    in.close();
    ::DeleteFileW(errPath.c_str());
    return result;
}

void setEnvironment(const std::string &name, const std::string &value)
{
    ::SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str());
}

std::string uniqueSuffix()
{
    return std::to_string(::GetCurrentProcessId());
}

} // namespace testsupport
