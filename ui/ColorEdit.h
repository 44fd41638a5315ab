// The message view: a read-only multi-line edit whose text colour changes at run time.
#pragma once

#include "win/Handles.h"
#include "win/Window.h"

class CColorEdit : public CWindow {
public:
    CColorEdit();

    // Creates the EDIT control as a child of `parent` and takes it over.
    bool Create(HWND parent, const RECT& rect, UINT id, DWORD style);

    // Stores the colour and repaints the whole control at once, also when it is unchanged.
    void SetTextColour(COLORREF colour);
    COLORREF TextColour() const noexcept { return m_crText; }
    COLORREF BackgroundColour() const noexcept { return m_crBackground; }

    // The edit's colour message, handed back by its parent.
    HBRUSH OnReflectedCtlColor(HDC dc);
    bool OnReflectedMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Builds the view's font from the stored font settings and gives it to the view; a
    // setting that cannot be read is reported with the view as owner and the font stays.
    void ApplyViewFont();

    // The process's view font (null before the first successful application).
    static HFONT ViewFont() noexcept;

private:
    COLORREF m_crText = 0;
    COLORREF m_crBackground;
    UniqueHBrush m_brBackground;
};
