// The real notelia.exe under Wine against a real web server on 127.0.0.1:80 that publishes
// all five files (run by end_to_end.py, which also takes the screenshot): started hidden from
// an empty folder, its first cycle brings the files into its own per-user folder, never the
// folder it was started from, and pops the window up with Información General in the view; it
// ends through its two questions. Later instances of the same user run beside it in folders of
// their own.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "app/Identity.h"
#include "res/resource.h"
#include "tests/support/TestFiles.h"
#include "tests/ui/frame/FrameTestSupport.h"
#include "tests/ui/frame/ProgramDriver.h"
#include "win/TextCodec.h"

using namespace program_driver;
using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

namespace {

// A Unix path as Wine's drive Z: shows it.
std::string WinePath(const char* unixPath)
{
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool Holds(const std::string& file, const std::string& content)
{
    return Exists(file) && ReadBytes(file) == content;
}

std::string Environment(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

HWND FindChild(HWND parent, const wchar_t* className, int id)
{
    return FindWindowWhere(
        [&](HWND hWnd) { return GetDlgCtrlID(hWnd) == id && _wcsicmp(ClassName(hWnd).c_str(), className) == 0; }, parent);
}

// Text of a control of another process (WM_GETTEXT is carried across processes).
std::wstring ControlText(HWND control)
{
    wchar_t text[2048] = {};
    SendMessageTimeoutW(control, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 10000, nullptr);
    return text;
}

} // namespace

TEST(EndToEnd, FirstCycleBringsAllFilesAndPopsUpWithInformacionGeneral)
{
    const std::string serveDir = Environment("NOTELIA_E2E_SERVE_DIR");
    const std::string shotDir = Environment("NOTELIA_E2E_SHOT_DIR");
    ASSERT_FALSE(serveDir.empty()) << "run through end_to_end.py, which serves the files";
    ASSERT_FALSE(shotDir.empty());

    frame_test::SettingsKeyScope settings;
    ASSERT_NE(settings.Key(), nullptr);
    settings.Set(L"RemoteHost", L"127.0.0.1");
    settings.Set(L"TimeOut", L"1500");
    settings.Set(L"MailServer", L"127.0.0.1");

    const std::string kit = frame_test::kKitId;
    const std::map<std::string, std::string> published = {
        {"notelia_param.ini", "[Timer]\r\nTimerRefresh=300\r\n[MailList]\r\nMailListCount=1\r\n"
                              "Name1=Soporte\r\nAddress1=soporte@example.com\r\n"},
        {"mensaje.txt", "Informaci\xF3n General: el servicio t\xE9" "cnico cierra el viernes."},
        {"comercia.txt", "Comercial: nueva tarifa desde el lunes."},
        {WorkstationFileName(kit, ".txt"), "Operativo: copia de seguridad a las 20 h."},
        {WorkstationFileName(kit, ".adm"), "Administrativo: factura 2026/114 pendiente."},
    };
    for (const auto& [name, content] : published) WriteBytes(WinePath(serveDir.c_str()) + "\\" + name, content);

    // Copies of an earlier run would leave nothing new to pop up for.
    const std::string folder = NarrowCp1252(ProgramFolder()) + "\\";
    for (const auto& entry : published) DeleteFileW(WidenCp1252(folder + entry.first).c_str());
    testing_support::ScopedWorkDir startFolder;
    const std::wstring program = WidenCp1252(WinePath(NOTELIA_EXE_PATH));
    const auto started = std::chrono::steady_clock::now();
    RunningProgram running;
    ASSERT_TRUE(StartProgram(program, running)) << GetLastError();
    const HWND frame = running.frame;
    const HANDLE process = running.process.hProcess;
    EXPECT_FALSE(IsWindowVisible(frame));
    // The first cycle runs about 1.6 seconds after the start and pops the window up.
    const bool shown = WaitFor(process, [&] { return IsWindowVisible(frame) != FALSE; }, 30000);
    const auto popUp = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::printf("window visible %lld ms after the start\n", static_cast<long long>(popUp.count()));
    RecordProperty("popup_ms", static_cast<int>(popUp.count()));
    EXPECT_TRUE(shown);

    if (shown) {
        for (const auto& [name, content] : published) EXPECT_TRUE(Holds(folder + name, content)) << name;
        EXPECT_TRUE(std::filesystem::is_empty(startFolder.Path()));
        const HWND view = FindChild(frame, L"Edit", 500);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(ControlText(view), WidenCp1252(published.at("mensaje.txt")));
        const HWND selector = FindChild(frame, WC_COMBOBOXEXW, 1003);
        ASSERT_NE(selector, nullptr);
        const auto selected = static_cast<int>(SendMessageW(selector, CB_GETCURSEL, 0, 0));
        // Información General, as the frame's own suite names the selector's items.
        EXPECT_EQ(selected, 2);

        // A help-desk request through the real dialog reaches the mail sink.
        PostMessageW(frame, WM_COMMAND, ID_FILE_SEND, 0);
        HWND dialog = nullptr;
        // This program's dialog, once shown: its fields exist only from then on.
        ASSERT_TRUE(WaitFor(process, [&] {
            dialog = FindProcessWindow(running.process.dwProcessId, L"#32770", L"Enviar Mensaje");
            return dialog && IsWindowVisible(dialog);
        }, 10000));
        SendMessageW(GetDlgItem(dialog, IDC_SEND_CONTACT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Juan P\u00E9rez"));
        SendMessageW(GetDlgItem(dialog, IDC_SEND_TEXT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"No llegan los mensajes."));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEND_BUTTON, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SEND_BUTTON)));
        EXPECT_TRUE(WaitFor(process, [&] { return !IsWindow(dialog); }, 30000));
        const std::string mail = ReadBytes(WinePath(shotDir.c_str()) + "\\mail.eml");
        EXPECT_NE(mail.find("\r\nTo: soporte@example.com\r\n"), std::string::npos) << mail;
        EXPECT_NE(mail.find("\r\nContacto: Juan P\xE9rez\r\n"), std::string::npos) << mail;

        // The wrapper photographs the screen, then tells.
        WriteBytes(WinePath(shotDir.c_str()) + "\\ready", "");
        EXPECT_TRUE(WaitFor(
            process, [&] { return Exists(WinePath(shotDir.c_str()) + "\\done"); }, 30000));

        // More instances of the same user, each with its own folder, pop-up and icon: one is
        // killed, and the next start takes its folder again and is closed.
        const std::string second = folder + "2\\";
        for (const auto& entry : published) DeleteFileW(WidenCp1252(second + entry.first).c_str());
        for (const bool killed : {true, false}) {
            SCOPED_TRACE(killed ? "killed" : "closed");
            RunningProgram other;
            ASSERT_TRUE(StartProgram(program, other));
            EXPECT_TRUE(WaitFor(other.process.hProcess, [&] { return IsWindowVisible(other.frame) != FALSE; }, 30000));
            EXPECT_TRUE(IsWindowVisible(frame));
            EXPECT_TRUE(frame_test::ShellHasIcon(frame, IDR_TRAYMENU) && frame_test::ShellHasIcon(other.frame, IDR_TRAYMENU));
            for (const auto& [name, content] : published) EXPECT_TRUE(Holds(second + name, content)) << name;
            EXPECT_FALSE(Exists(folder + "3"));
            if (killed) {
                TerminateProcess(other.process.hProcess, 1);
                EXPECT_EQ(WaitForSingleObject(other.process.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
                continue;
            }
            const ProgramEnd end = EndProgram(other);
            EXPECT_EQ(end.failure, L"");
            EXPECT_EQ(end.exitCode, 0u);
            for (const auto& entry : published) EXPECT_FALSE(Exists(second + entry.first)) << entry.first;
        }
        // The first one's files are untouched, and its view still reads them.
        for (const auto& [name, content] : published) EXPECT_TRUE(Holds(folder + name, content)) << name;
        SendMessageW(selector, CB_SETCURSEL, 1, 0);  // Comercial
        SendMessageW(frame, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, CBN_SELENDOK), reinterpret_cast<LPARAM>(selector));
        EXPECT_EQ(ControlText(view), WidenCp1252(published.at("comercia.txt")));
    }

    const ProgramEnd end = EndProgram(running);
    EXPECT_EQ(end.failure, L"");
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.exitCode, 0u);
    // Nothing stays behind: neither the icon nor the local copies.
    EXPECT_FALSE(frame_test::ShellHasIcon(frame, 133));
    for (const auto& entry : published) EXPECT_FALSE(Exists(folder + entry.first)) << entry.first;
}
