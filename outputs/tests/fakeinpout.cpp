// A stand-in for the inpout port library, for tests and the smoke test of
// the Windows programs: exports Out32 and Inp32 with the stdcall convention
// (and, built with FAKE_INPOUT_WITHOUT_INP32, only Out32), keeps the last
// byte written as the register, and appends one line per call to the file
// that BLINKWERK_FAKE_INPOUT_LOG names: "Out32 <port> <value>" or
// "Inp32 <port> <value returned>".

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

namespace {

short g_register = 0;

void record(const char *function, short port, short value)
{
    wchar_t path[1024];
    const DWORD length = ::GetEnvironmentVariableW(L"BLINKWERK_FAKE_INPOUT_LOG", path, DWORD(std::size(path)));
    if (length == 0 || length >= std::size(path))
        return;
    if (FILE *log = ::_wfopen(path, L"ab")) {
        std::fprintf(log, "%s %d %d\n", function, port, value);
        std::fclose(log);
    }
}

} // namespace

extern "C" __declspec(dllexport) void __stdcall Out32(short port, short value)
{
    record("Out32", port, value);
    g_register = value;
}

#ifndef FAKE_INPOUT_WITHOUT_INP32
extern "C" __declspec(dllexport) short __stdcall Inp32(short port)
{
    record("Inp32", port, g_register);
    return g_register;
}
#endif
