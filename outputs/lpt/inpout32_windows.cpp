// Windows hardware backend: the inpout port library, loaded by name at the
// first port call and kept loaded for the rest of the run. Its Out32/Inp32
// take and return 16-bit values with the stdcall convention.
//
// A 64-bit program cannot load the 32-bit inpout32.dll; it loads the 64-bit
// twin inpoutx64.dll, which exports the same two functions. A 64-bit library
// that was renamed inpout32.dll is taken as well. The library is looked for
// beside the program and in the system folder, never in the current folder,
// so that a library lying in a folder the user merely works in is not run.

#include "parallelport.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace portio {

namespace {

using Out32Function = void(__stdcall *)(short, short);
using Inp32Function = short(__stdcall *)(short);

class Inpout32Port final : public PortBackend
{
public:
    Inpout32Port(HMODULE library, Out32Function out, Inp32Function in)
        : m_library(library)
        , m_out(out)
        , m_in(in)
    {
    }
    ~Inpout32Port() override { ::FreeLibrary(m_library); }

    void out32(std::int16_t port, std::int16_t value) override { m_out(port, value); }
    std::int16_t inp32(std::int16_t port) override { return m_in(port); }

private:
    HMODULE m_library;
    Out32Function m_out;
    Inp32Function m_in;
};

// GetProcAddress answers a generic function pointer; the detour through
// void(*)() tells the compiler that the cast to the real type is meant.
template<typename Function>
Function lookUp(HMODULE library, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

std::string loadFailure(const char *name, DWORD code)
{
    std::string text = std::string(name) + " could not be loaded (error " + std::to_string(code);
    if (code == ERROR_MOD_NOT_FOUND)
        text += ": not found beside the program or in the system folder";
    else if (code == ERROR_BAD_EXE_FORMAT)
        text += ": a 32-bit library, which a 64-bit program cannot use";
    return text + ")";
}

} // namespace

std::unique_ptr<PortBackend> openHardwarePort(std::string &whyNot)
{
#ifdef _WIN64
    const char *names[] = {"inpoutx64.dll", "inpout32.dll"};
#else
    const char *names[] = {"inpout32.dll"};
#endif
    std::vector<std::string> failures;
    for (const char *name : names) {
        const std::wstring wideName(name, name + std::strlen(name));
        HMODULE library = ::LoadLibraryExW(wideName.c_str(), nullptr,
                                           LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!library) {
            const DWORD code = ::GetLastError();
            // A library that is not there at all is only worth a word for
            // the first name, the one the user is told to install.
            if (code != ERROR_MOD_NOT_FOUND || failures.empty())
                failures.push_back(loadFailure(name, code));
            continue;
        }
        const auto out = lookUp<Out32Function>(library, "Out32");
        const auto in = lookUp<Inp32Function>(library, "Inp32");
        if (out && in)
            return std::make_unique<Inpout32Port>(library, out, in);
        failures.push_back(std::string(name) + " has no " + (!out ? "Out32" : "Inp32"));
        ::FreeLibrary(library);
    }
    whyNot.clear();
    for (const std::string &failure : failures)
        whyNot += (whyNot.empty() ? "" : "; ") + failure;
    return nullptr;
}

} // namespace portio
