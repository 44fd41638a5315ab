// Choosing the view's font in the common font dialog and storing the choice.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CColorEdit;

// The frame's font command: opens the font dialog with the stored font, stores the choice
// and applies it to `view`. A failed write is reported with `frame` as owner.
void ChooseViewFont(HWND frame, CColorEdit& view);

// The font values belong to each user: each is read from the user's own settings key
// (HKEY_CURRENT_USER) first, then from the machine's, which holds the administrator's
// default and is never written. False when neither can be read through a buffer of
// `bufferSize` bytes.
bool TryReadFontSetting(const char* valueName, std::uint32_t bufferSize, std::string& text);
// As TryReadFontSetting; a value that cannot be read raises code -1003.
std::string ReadFontSetting(const char* valueName, std::uint32_t bufferSize);
// Stores a font value under the user's own key, created on first use; a failure raises -1004.
void WriteFontSetting(const char* valueName, const std::string& text, bool withTerminator);
