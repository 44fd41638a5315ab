#include "app/NoteliaApp.h"

#include <objbase.h>

#include "app/ErrorReport.h"
#include "app/WorkingFolder.h"
#include "res/resource.h"
#include "ui/MainFrame.h"
#include "win/Resources.h"

CNoteliaApp::SocketStartup CNoteliaApp::s_pfnSocketStartup = ::WSAStartup;

namespace {
// Exit code of a start that did not reach the message loop.
constexpr int kFailedStartExitCode = 1;
} // namespace

BOOL CNoteliaApp::InitInstance()
{
    m_bComStarted = false;
    m_bExited = false;
    m_nExitCode = kFailedStartExitCode;

    // Before anything touches a file.
    if (!m_folder.Enter()) return FALSE;

    if (s_pfnSocketStartup(MAKEWORD(2, 0), &m_wsaData) != 0) {
        ReportErrorText(nullptr, LoadResourceString(IDS_SOCKETS_INIT_FAILED));
        return FALSE;
    }
    // S_FALSE (COM already started on this thread) counts as a failure too.
    if (CoInitialize(nullptr) != S_OK) return FALSE;
    m_bComStarted = true;

    auto* frame = new CMainFrame;
    if (!frame->LoadFrame(IDR_MAINFRAME, CMainFrame::kFrameStyle)) {
        delete frame;
        return FALSE;
    }
    m_hMainWnd = frame->Handle();
    // The process ends with the session: its shut-down runs there, and never again.
    frame->SetSessionEndHandler([this] { Exit(); });
    ShowWindow(m_hMainWnd, SW_HIDE);
    UpdateWindow(m_hMainWnd);
    m_nExitCode = 0;
    return TRUE;
}

int CNoteliaApp::ExitInstance()
{
    WSACleanup();
    if (m_bComStarted) {
        CoUninitialize();
        m_bComStarted = false;
    }
    return m_nExitCode;
}

int CNoteliaApp::Exit()
{
    if (m_bExited) return m_nExitCode;
    m_bExited = true;
    m_nExitCode = ExitInstance();
    return m_nExitCode;
}

int CNoteliaApp::RunMessageLoop()
{
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // The frame may be gone already; its handle then finds no object.
        CWindow* frame = m_hMainWnd ? CWindow::FromHandle(m_hMainWnd) : nullptr;
        if (frame && frame->PreTranslateMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    m_hMainWnd = nullptr;
    m_nExitCode = static_cast<int>(msg.wParam);
    return m_nExitCode;
}

int CNoteliaApp::Run()
{
    if (InitInstance()) RunMessageLoop();
    return Exit();
}
