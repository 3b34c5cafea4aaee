// Drives the Windows programs in the smoke test of tools/windows-build, the
// way a user or the system would, through their top-level windows:
//
//   poke <title> wait            waits (up to 30 s) until the window shows
//   poke <title> click <x> <y>   left click at client coordinates
//   poke <title> close           WM_CLOSE, as the task manager's "End task"
//   poke <title> endsession      the end of the session as Windows ends it:
//                                WM_QUERYENDSESSION, WM_ENDSESSION, and the
//                                process is ended as soon as WM_ENDSESSION
//                                has been answered
//   poke <title> yellow          prints the lit (yellow) pixels of the left
//                                and the right half of the client area
//
// Exit status 0 on success, 1 when the window is not there, 2 on bad usage.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

HWND findWindow(const std::wstring &title)
{
    return ::FindWindowW(nullptr, title.c_str());
}

std::wstring wide(const char *text)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(std::size_t(length > 0 ? length - 1 : 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), length);
    return result;
}

int yellowPixels(HWND window)
{
    RECT client {};
    ::GetClientRect(window, &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0)
        return 1;
    HDC source = ::GetDC(window);
    HDC memory = ::CreateCompatibleDC(source);
    HBITMAP bitmap = ::CreateCompatibleBitmap(source, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    ::SelectObject(memory, previous);
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<unsigned char> pixels(std::size_t(width) * std::size_t(height) * 4);
    const int rows = ::GetDIBits(memory, bitmap, 0, UINT(height), pixels.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(window, source);
    if (rows != height)
        return 1;
    int left = 0, right = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned char *p = &pixels[4 * (std::size_t(y) * std::size_t(width) + std::size_t(x))]; // B G R
            if (p[2] > 200 && p[1] > 200 && p[0] < 100)
                ++(x < width / 2 ? left : right);
        }
    std::printf("%d %d\n", left, right);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const std::wstring title = wide(argv[1]);
    const std::string action = argv[2];
    if (action == "wait") {
        for (int i = 0; i < 300; ++i) {
            if (HWND window = findWindow(title); window && ::IsWindowVisible(window))
                return 0;
            ::Sleep(100);
        }
        return 1;
    }
    HWND window = findWindow(title);
    if (!window)
        return 1;
    if (action == "click" && argc == 5) {
        const LPARAM at = MAKELPARAM(std::atoi(argv[3]), std::atoi(argv[4]));
        ::PostMessageW(window, WM_MOUSEMOVE, 0, at);
        ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(window, WM_LBUTTONUP, 0, at);
        return 0;
    }
    if (action == "endsession") {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
        if (!process)
            return 1;
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer);
        ::SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer);
        ::TerminateProcess(process, 1);
        ::WaitForSingleObject(process, 10000);
        ::CloseHandle(process);
        return 0;
    }
    if (action == "close")
        return ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (action == "yellow")
        return yellowPixels(window);
    return 2;
}
