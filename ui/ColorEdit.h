// The message view: a read-only multi-line edit whose text colour changes at run time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

    // Replaces the view's text with `text`. The control lays text out as it takes it, so a
    // long text goes in a slice at a time, one slice per posted message: the window answers
    // between slices, and a later text drops what is still to come of an earlier one.
    void ShowText(std::u16string_view text);
    // Shows a message file's bytes, decoded as MessageViewText tells.
    void ShowMessageText(std::string_view fileBytes);
    // True while part of the last text is still to come.
    bool Filling() const noexcept { return m_nPendingAt < m_strPending.size(); }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    // Adds the next slice at the end, where the user is kept in the text.
    void AppendSlice();
    // Asks for the next slice while text is still to come, else lets the text go.
    void ContinueFilling();
    // End of the slice that starts at `from`: after a line end where there is one.
    std::size_t SliceEnd(std::size_t from) const;

    std::wstring m_strPending;
    std::size_t m_nPendingAt = 0;
    bool m_bSlicePosted = false;
    COLORREF m_crText = 0;
    COLORREF m_crBackground;
    UniqueHBrush m_brBackground;
};
