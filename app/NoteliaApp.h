// The application object: process-wide start-up and shut-down around the message loop.
#pragma once

#include <winsock2.h>
#include <windows.h>

class CNoteliaApp {
public:
    CNoteliaApp() = default;
    CNoteliaApp(const CNoteliaApp&) = delete;
    CNoteliaApp& operator=(const CNoteliaApp&) = delete;
    virtual ~CNoteliaApp() = default;

    // Enters the working folder, starts Windows Sockets 2.0 and COM and creates the hidden
    // main frame. FALSE ends the program at once (after ExitInstance).
    virtual BOOL InitInstance();

    // Releases Windows Sockets and COM; answers the process exit code.
    virtual int ExitInstance();

    // The whole life of the program: InitInstance, the message loop, ExitInstance.
    int Run();

    // Runs the message loop until the main frame is destroyed.
    int RunMessageLoop();

    HWND MainWindow() const noexcept { return m_hMainWnd; }

    // Windows Sockets start-up, replaceable so that tests can make it fail.
    using SocketStartup = int(WSAAPI*)(WORD version, LPWSADATA data);
    static SocketStartup s_pfnSocketStartup;

private:
    WSADATA m_wsaData{};
    bool m_bComStarted = false;
    HWND m_hMainWnd = nullptr;
    int m_nExitCode = 0;
};
