// Every message box of the program goes through ShowMessageBox, so that tests can answer
// and record them instead of blocking on a real box.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Texts are Windows-1252; answers the button chosen (IDOK, IDYES, IDNO ...).
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags);

using MessageBoxHandler = std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT flags)>;

// Replaces the real MessageBoxW; an empty handler restores it. Answers the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
