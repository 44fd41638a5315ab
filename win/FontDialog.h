// The common font dialog goes through ShowFontDialog, so that tests can answer it instead of
// blocking on a real dialog.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <functional>

// ChooseFontW, or the test handler when one is set; true when the user chose OK.
bool ShowFontDialog(CHOOSEFONTW& choice);

using FontDialogHandler = std::function<bool(CHOOSEFONTW& choice)>;

// Replaces the real ChooseFontW; an empty handler restores it. Answers the previous handler.
FontDialogHandler SetFontDialogHandler(FontDialogHandler handler);
