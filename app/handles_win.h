#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <utility>

namespace kestrin
{

// Sole owner of a Win32 handle: releases it once, when it goes or is replaced.
template <typename Handle, auto Release> class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : m_handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) Reset(std::exchange(other.m_handle, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void Reset(Handle handle = nullptr)
    {
        if (m_handle) Release(m_handle);
        m_handle = handle;
    }

private:
    Handle m_handle = nullptr;
};

// Names of their own: several Win32 release functions are also macros.
namespace release
{
inline void Font(HFONT font)
{
    DeleteObject(font);
}
inline void Bitmap(HBITMAP bitmap)
{
    DeleteObject(bitmap);
}
inline void Pen(HPEN pen)
{
    DeleteObject(pen);
}
inline void ImageList(HIMAGELIST list)
{
    ImageList_Destroy(list);
}
inline void Icon(HICON icon)
{
    DestroyIcon(icon);
}
inline void Module(HMODULE module)
{
    FreeLibrary(module);
}
inline void Window(HWND window)
{
    DestroyWindow(window);
}
inline void Handle(HANDLE handle)
{
    CloseHandle(handle);
}
} // namespace release

using UniqueHfont = UniqueHandle<HFONT, release::Font>;
using UniqueHbitmap = UniqueHandle<HBITMAP, release::Bitmap>;
using UniqueHpen = UniqueHandle<HPEN, release::Pen>;
using UniqueHimagelist = UniqueHandle<HIMAGELIST, release::ImageList>;
using UniqueHicon = UniqueHandle<HICON, release::Icon>;
using UniqueHmodule = UniqueHandle<HMODULE, release::Module>;
using UniqueHwnd = UniqueHandle<HWND, release::Window>;
using UniqueHthread = UniqueHandle<HANDLE, release::Handle>;

// Loads a DLL from the system directory only, never from beside the program; the caller owns it.
inline HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    return LoadLibraryW((std::wstring(directory, length) + L"\\" + name).c_str());
}

// A function of a module found at run time, or none.
template <typename Function> Function Export(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                  : nullptr;
}

} // namespace kestrin
