// The application object: process-wide start-up and shut-down around the message loop.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "app/WorkingFolder.h"

class CNoteliaApp {
public:
    CNoteliaApp() = default;
    CNoteliaApp(const CNoteliaApp&) = delete;
    CNoteliaApp& operator=(const CNoteliaApp&) = delete;
    virtual ~CNoteliaApp() = default;

    // Claims and enters a working folder of its own, starts Windows Sockets 2.0 and COM and
    // creates the hidden main frame. FALSE ends the program at once (after ExitInstance).
    virtual BOOL InitInstance();

    // Releases Windows Sockets and COM; answers the process exit code. Called through Exit.
    virtual int ExitInstance();

    // ExitInstance the first time, on whichever path the program ends (the message loop's
    // end, a failed start, the end of the Windows session); later calls only answer the code.
    int Exit();

    // The whole life of the program: InitInstance, the message loop, Exit.
    int Run();

    // Runs the message loop until the main frame is destroyed.
    int RunMessageLoop();

    HWND MainWindow() const noexcept { return m_hMainWnd; }
    const CWorkingFolder& WorkingFolder() const noexcept { return m_folder; }

    // Windows Sockets start-up, replaceable so that tests can make it fail.
    using SocketStartup = int(WSAAPI*)(WORD version, LPWSADATA data);
    static SocketStartup s_pfnSocketStartup;

private:
    // Claimed for the object's life: the process's, for the program's one object.
    CWorkingFolder m_folder;
    WSADATA m_wsaData{};
    bool m_bComStarted = false;
    HWND m_hMainWnd = nullptr;
    int m_nExitCode = 0;
    bool m_bExited = false;
};
