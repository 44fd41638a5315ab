// Move-only owners of Windows handles: one type per close function, each with its own
// empty value.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle h) noexcept : m_h(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::Empty(); }

    Handle release() noexcept { return std::exchange(m_h, Traits::Empty()); }
    void reset(Handle h = Traits::Empty()) noexcept
    {
        const Handle old = std::exchange(m_h, h);
        if (old != Traits::Empty()) Traits::Close(old);
    }
    // For APIs that return a handle through a pointer.
    Handle* put() noexcept
    {
        reset();
        return &m_h;
    }

private:
    Handle m_h = Traits::Empty();
};

namespace handle_traits {
struct Key {
    using Handle = HKEY;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
template <typename T>
struct GdiObject {
    using Handle = T;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
struct Menu {
    using Handle = HMENU;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { DestroyMenu(h); }
};
struct Icon {
    using Handle = HICON;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { DestroyIcon(h); }
};
struct File {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct Kernel {
    using Handle = HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
} // namespace handle_traits

using UniqueHKey = UniqueHandle<handle_traits::Key>;
using UniqueHFont = UniqueHandle<handle_traits::GdiObject<HFONT>>;
using UniqueHBrush = UniqueHandle<handle_traits::GdiObject<HBRUSH>>;
using UniqueHBitmap = UniqueHandle<handle_traits::GdiObject<HBITMAP>>;
using UniqueHMenu = UniqueHandle<handle_traits::Menu>;
using UniqueHIcon = UniqueHandle<handle_traits::Icon>;
// CreateFile's empty value is INVALID_HANDLE_VALUE; most other kernel handles use NULL.
using UniqueFileHandle = UniqueHandle<handle_traits::File>;
using UniqueKernelHandle = UniqueHandle<handle_traits::Kernel>;
