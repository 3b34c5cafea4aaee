#include "environment.h"

#include <windows.h>

#include <vector>

namespace portio {

std::optional<std::string> environmentVariable(const char *name)
{
    std::wstring wideName;
    for (const char *c = name; *c; ++c)
        wideName.push_back(wchar_t(static_cast<unsigned char>(*c))); // names are ASCII
    std::vector<wchar_t> value(256);
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), DWORD(value.size()));
        if (length == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return std::nullopt;
            return std::string();
        }
        if (length < value.size()) {
            const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, value.data(), int(length), nullptr, 0, nullptr, nullptr);
            std::string utf8(std::size_t(bytes), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, value.data(), int(length), utf8.data(), bytes, nullptr, nullptr);
            return utf8;
        }
        value.resize(length); // length counts the terminating NUL here
    }
}

} // namespace portio
