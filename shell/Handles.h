// Owners for platform handles: each handle has exactly one owner, released in its destructor.
// Shared by the shell, the forms and every module that holds a handle.
#pragma once

#include <windows.h>

#include <utility>

template <typename H, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : handle_(h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    H Get() const { return handle_; }
    explicit operator bool() const { return Traits::IsValid(handle_); }
    H Release() { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(H h = Traits::Invalid()) {
        if (Traits::IsValid(handle_)) Traits::Close(handle_);
        handle_ = h;
    }

private:
    H handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { FindClose(h); }
};

template <typename G>
struct GdiTraits {
    static G Invalid() { return nullptr; }
    static bool IsValid(G h) { return h != nullptr; }
    static void Close(G h) { DeleteObject(h); }
};

struct MenuTraits {
    static HMENU Invalid() { return nullptr; }
    static bool IsValid(HMENU h) { return h != nullptr; }
    static void Close(HMENU h) { DestroyMenu(h); }
};

using KernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;
using FindHandle = UniqueHandle<HANDLE, FindHandleTraits>;
using FontHandle = UniqueHandle<HFONT, GdiTraits<HFONT>>;
using BrushHandle = UniqueHandle<HBRUSH, GdiTraits<HBRUSH>>;
using MenuHandle = UniqueHandle<HMENU, MenuTraits>;
