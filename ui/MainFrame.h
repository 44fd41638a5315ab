// The program's only top-level window. It stays hidden; the program ends when it is
// destroyed.
#pragma once

#include "win/Window.h"

class CMainFrame : public CWindow {
public:
    // A sizing border and a system menu, no minimise and no maximise box.
    static constexpr DWORD kFrameStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;

    // Creates the window from the frame's resources (title string `resourceId`). After a
    // successful creation the object belongs to its window and is deleted with it.
    bool LoadFrame(UINT resourceId, DWORD style);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage() override;

private:
    bool m_bOwnedByWindow = false;
};
