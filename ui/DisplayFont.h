// Choosing the view's font in the common font dialog and storing the choice.
#pragma once

#include <windows.h>

class CColorEdit;

// The frame's font command: opens the font dialog with the stored font, stores the choice
// and applies it to `view`. A failed write is reported with `frame` as owner.
void ChooseViewFont(HWND frame, CColorEdit& view);
