// The scale of a window. The per-monitor functions exist from Windows 10 on and are looked up
// at run time; before that every window has the system's resolution.
#pragma once

#include <windows.h>

inline constexpr UINT kDefaultDpi = 96;

// The window's dots per inch (the system's for no window or on older systems).
UINT WindowDpi(HWND window) noexcept;

// A size given for 96 dots per inch, at `dpi`.
inline int ScaleForDpi(int pixels, UINT dpi) noexcept
{
    return MulDiv(pixels, static_cast<int>(dpi), static_cast<int>(kDefaultDpi));
}

// GetSystemMetrics at `dpi`.
int SystemMetricForDpi(int index, UINT dpi) noexcept;

// The scale of the pictures drawn for `dpi`: 100, 150 or 200 (percent of their 96-dpi size).
int ImageScalePercent(UINT dpi) noexcept;

// The system's message font (dialogs, status bars) at `dpi`; the caller owns it.
HFONT CreateMessageFontForDpi(UINT dpi) noexcept;
