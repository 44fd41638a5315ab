// The message categories as the frame shows them, and the selector that lists them: a
// drop-down with an envelope picture per category telling whether its news has been seen.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ui/FrameRules.h"

class CMessageFiles;

struct CategoryInfo {
    const char* text;      // item text, Windows-1252
    COLORREF colour;       // text colour of the view
    unsigned char maskBit; // bit of the change mask
};

// The category at selector index `index` (0 to 3).
const CategoryInfo& Category(int index);

// The category's current text from its reader.
void ReadCategoryText(const CMessageFiles& files, int index, std::string& text);

// Selector images.
inline constexpr int kImageUnseen = 0; // closed envelope: news not yet seen
inline constexpr int kImageSeen = 1;   // open envelope

class CCategorySelector {
public:
    CCategorySelector() = default;
    CCategorySelector(const CCategorySelector&) = delete;
    CCategorySelector& operator=(const CCategorySelector&) = delete;
    ~CCategorySelector();

    // The drop-down list as a child of `parent`, with the images of bitmap `bitmapId` (square
    // images `imageSide` pixels wide on magenta).
    bool Create(HWND parent, const RECT& rect, UINT id, UINT bitmapId, int imageSide);
    // Replaces the images (another scale).
    bool SetImages(UINT bitmapId, int imageSide);

    // Inserts category `index` at that index with `image` as its image and selected image.
    bool InsertCategory(int index, int image);
    void DeleteItem(int index);
    void ResetContent();
    void SetCurSel(int index);
    // -1 without a current item.
    int GetCurSel() const;

    int Count() const;
    int ItemImage(int index) const;
    std::wstring ItemText(int index) const;

    HWND Handle() const noexcept { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
    HIMAGELIST m_hImages = nullptr;
};
