// The frame's client pane: a plain child window between the control bars that hosts the
// message view.
#pragma once

#include "win/Window.h"

class CPaneWnd : public CWindow {
public:
    // A child window with id `id` (client edge, no border); its size is set by the frame.
    bool Create(HWND parent, UINT id);

    // The pane handles no commands: it answers false so the frame goes on routing.
    bool OnCommand(UINT id);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};
