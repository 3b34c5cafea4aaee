// Windows hardware backend: inpout32.dll, loaded by name at the first port
// call and kept loaded for the rest of the run. Its Out32/Inp32 take and
// return 16-bit values with the stdcall convention.

#include "portbackend.h"

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

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

} // namespace

std::unique_ptr<PortBackend> openHardwarePort(std::string &whyNot)
{
    // A 64-bit process cannot load the 32-bit library; its 64-bit twin
    // exports the same two functions.
#ifdef _WIN64
    const wchar_t *names[] = {L"inpout32.dll", L"inpoutx64.dll"};
#else
    const wchar_t *names[] = {L"inpout32.dll"};
#endif
    HMODULE library = nullptr;
    for (const wchar_t *name : names) {
        library = ::LoadLibraryW(name);
        if (library)
            break;
    }
    if (!library) {
        whyNot = "inpout32.dll could not be loaded (error " + std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    auto out = reinterpret_cast<Out32Function>(::GetProcAddress(library, "Out32"));
    auto in = reinterpret_cast<Inp32Function>(::GetProcAddress(library, "Inp32"));
    if (!out || !in) {
        whyNot = std::string("inpout32.dll has no ") + (!out ? "Out32" : "Inp32");
        ::FreeLibrary(library);
        return nullptr;
    }
    return std::make_unique<Inpout32Port>(library, out, in);
}

} // namespace portio
