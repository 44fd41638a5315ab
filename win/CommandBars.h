// The frame's control bars over the common controls: a toolbar built from a bitmap, the rebar
// that holds it, and a status bar with a message pane, key indicators and fly-by prompts.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

// A button of a toolbar: a command with an image, or a separator (command 0).
struct ToolbarButton {
    UINT command;
    int image;
};

class CToolBar {
public:
    CToolBar() = default;
    CToolBar(const CToolBar&) = delete;
    CToolBar& operator=(const CToolBar&) = delete;
    ~CToolBar();

    // A toolbar child of `parent`; the parent receives its commands and notifications.
    bool Create(HWND parent, DWORD controlStyle, DWORD style, UINT id);

    // Images of `imageSize` side by side in bitmap `bitmapId` of the program, on buttons of
    // `buttonSize`; light grey in the bitmap becomes the button face.
    bool LoadButtons(UINT bitmapId, SIZE imageSize, SIZE buttonSize, const std::vector<ToolbarButton>& buttons);

    // Replaces the images and the button size (another scale); the buttons keep their images'
    // indexes.
    bool SetImages(UINT bitmapId, SIZE imageSize, SIZE buttonSize);

    // Gives the button at `index` another command, style and image.
    bool SetButtonInfo(int index, UINT command, BYTE style, int image);

    // The command of the button under `point` (toolbar coordinates); 0 for none or a separator.
    UINT CommandAt(POINT point) const;

    // Width and height that show every button.
    SIZE ButtonsExtent() const;

    HWND Handle() const noexcept { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
    // The toolbar shows the list but does not own it.
    HIMAGELIST m_hImages = nullptr;
};

class CReBar {
public:
    CReBar() = default;
    CReBar(const CReBar&) = delete;
    CReBar& operator=(const CReBar&) = delete;

    bool Create(HWND parent, DWORD controlStyle, DWORD style, UINT id);

    // Adds `child` as a band without text or background bitmap, at least `minSize` large.
    bool AddBar(HWND child, SIZE minSize, UINT bandStyle);
    // The band at `index` at least `minSize` large (another scale).
    bool SetBarSize(int index, SIZE minSize);

    // Follows the parent's width; answers its own height.
    int Layout();

    HWND Handle() const noexcept { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
};

// A key indicator of the status bar: its text (a string id) shows while the key is on.
struct StatusIndicator {
    UINT textId;
    int virtualKey;
};

class CStatusBar {
public:
    CStatusBar() = default;
    CStatusBar(const CStatusBar&) = delete;
    CStatusBar& operator=(const CStatusBar&) = delete;

    // `idleTextId`: the string shown while no prompt is.
    bool Create(HWND parent, DWORD style, UINT id, UINT idleTextId);

    // The message pane, then one pane per indicator.
    bool SetIndicators(const std::vector<StatusIndicator>& indicators);
    std::vector<StatusIndicator> Indicators() const { return m_indicators; }

    // The text of the message pane.
    void SetMessageText(const std::wstring& text);
    std::wstring MessageText() const;

    // The prompt of command `id` from the string table (its part before a line end), or the
    // idle text for 0.
    void ShowPrompt(UINT id);
    void ShowIdle() { ShowPrompt(0); }

    // Shows the indicators of the keys that are on; only changed panes are redrawn.
    void UpdateIndicators();

    // Follows the parent's size; answers its own height.
    int Layout();

    HWND Handle() const noexcept { return m_hWnd; }

    // The string id of a command's prompt: system commands have their own block of strings.
    static UINT PromptId(UINT command) noexcept;

private:
    void SetPaneWidths();

    HWND m_hWnd = nullptr;
    UINT m_nIdleTextId = 0;
    std::vector<StatusIndicator> m_indicators;
    std::vector<int> m_widths;
    std::vector<std::wstring> m_shown;
};
