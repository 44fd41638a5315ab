// Time from a fetch command to the main window answering again, against a server on
// 127.0.0.1:80 that accepts the connection and never answers. Run under Wine, holding the
// port-80 lock; prints one line in milliseconds.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "ui/MainFrame.h"
#include "win/MessageBox.h"

namespace {

const wchar_t kKey[] = L"Software\\Quorvex\\Zandu\\Usuario";

void SetValue(HKEY key, const wchar_t* name, const wchar_t* value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

} // namespace

int wmain()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 8) != 0) {
        std::fprintf(stderr, "port 80 is taken\n");
        return 1;
    }
    // Accepts and holds every connection without a word, until the end of the run.
    std::thread([listener] {
        std::vector<SOCKET> held;
        for (SOCKET s; (s = accept(listener, nullptr, nullptr)) != INVALID_SOCKET;) held.push_back(s);
    }).detach();

    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    for (const auto& [name, value] : {std::pair{L"RemoteHost", L"127.0.0.1"}, std::pair{L"TimeOut", L"1000"},
                                      std::pair{L"Font", L"Arial"}, std::pair{L"FontSize", L"100"},
                                      std::pair{L"IsBold", L"No"}, std::pair{L"IsItalic", L"No"}})
        SetValue(key, name, value);
    const auto dir = std::filesystem::temp_directory_path() / "notelia-bench-frame";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    // The download's error box is answered at once.
    SetMessageBoxHandler([](HWND, const std::string&, const std::string&, UINT) { return IDOK; });

    auto* frame = new CMainFrame;
    if (!frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle)) return 1;
    const HWND hWnd = frame->Handle();
    const DWORD uiThread = GetCurrentThreadId();
    std::thread measurer([hWnd, uiThread] {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);  // the loop runs
        const auto start = std::chrono::steady_clock::now();
        // As the menu or the toolbar gives it, then the next message anyone sends.
        SendMessageTimeoutW(hWnd, WM_COMMAND, ID_FILE_FETCH, 0, SMTO_NORMAL, 120000, &result);
        SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 120000, &result);
        const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("fetch command to answering window: %.1f ms\n", ms);
        std::fflush(stdout);
        PostThreadMessageW(uiThread, WM_QUIT, 0, 0);
    });
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    measurer.join();
    if (IsWindow(hWnd)) DestroyWindow(hWnd);
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    closesocket(listener);
    WSACleanup();
    return 0;
}
