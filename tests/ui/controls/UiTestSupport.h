// Helpers for tests on real windows: a bounded message pump, a top-level window that records
// what it is sent, and message boxes answered and recorded.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/WinTestSupport.h"
#include "win/MessageBox.h"
#include "win/Window.h"

namespace ui_test {

using testing_support::ClassName;
using testing_support::PumpUntil;
using testing_support::WindowText;

// A top-level window that records the commands and WM_NULL messages it gets.
class CRecorderWindow : public CWindow {
public:
    struct Command {
        UINT id;
        LPARAM lParam;
    };

    bool Create(DWORD style = WS_OVERLAPPEDWINDOW)
    {
        WNDCLASSEXW wc{};
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        if (!RegisterWindowClass(L"NoteliaTestRecorder", wc)) return false;
        return CreateEx(0, L"NoteliaTestRecorder", L"recorder", style, 100, 100, 520, 340, nullptr, nullptr);
    }

    std::vector<Command> commands;
    int nullMessages = 0;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_COMMAND) {
            commands.push_back({LOWORD(wParam), lParam});
            return 0;
        }
        if (msg == WM_NULL) ++nullMessages;
        return Default(msg, wParam, lParam);
    }
};

// Answers every message box with `answer` and records it, for the object's lifetime.
class CMessageBoxRecorder : public testing_support::ScriptedBoxes {
public:
    using Box = testing_support::RecordedBox;
    explicit CMessageBoxRecorder(int answer = IDOK) : ScriptedBoxes({}, answer) {}
};

} // namespace ui_test
