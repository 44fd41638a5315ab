// Helpers shared by the Windows test suites: a bounded message pump, window texts, and
// Windows Sockets started for the whole test program.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "win/MessageBox.h"
#include "win/Window.h"

namespace testing_support {

// Dispatches this thread's messages until `done` holds or `timeoutMs` has passed. With a
// `frame`, each message is first offered to it, as the program's message loop does.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000, HWND frame = nullptr)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            CWindow* window = frame && IsWindow(frame) ? CWindow::FromHandle(frame) : nullptr;
            if (window && window->PreTranslateMessage(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
}

inline std::wstring WindowText(HWND hWnd)
{
    wchar_t text[1024] = {};
    GetWindowTextW(hWnd, text, 1024);
    return text;
}

inline std::wstring ClassName(HWND hWnd)
{
    wchar_t name[128] = {};
    GetClassNameW(hWnd, name, 128);
    return name;
}

// The program starts Windows Sockets itself; a test program does it here.
class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

struct RecordedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT flags;
};

// Answers message boxes from a queue of answers (`otherwise` once it is empty) and records
// them, for the object's lifetime.
class ScriptedBoxes {
public:
    explicit ScriptedBoxes(std::deque<int> answers = {}, int otherwise = IDOK) : answers(std::move(answers))
    {
        m_previous = SetMessageBoxHandler([this, otherwise](HWND owner, const std::string& text,
                                                            const std::string& caption, UINT flags) {
            boxes.push_back({owner, text, caption, flags});
            if (onBox) onBox();
            if (this->answers.empty()) return otherwise;
            const int answer = this->answers.front();
            this->answers.pop_front();
            return answer;
        });
    }
    ~ScriptedBoxes() { SetMessageBoxHandler(m_previous); }
    ScriptedBoxes(const ScriptedBoxes&) = delete;
    ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

    std::deque<int> answers;
    std::vector<RecordedBox> boxes;
    // Runs while a box is "on screen", as the user's actions during a real box would.
    std::function<void()> onBox;

private:
    MessageBoxHandler m_previous;
};

} // namespace testing_support
