#pragma once
// Small move-only owners for Windows handles. Each treats every "no handle" value the API uses as empty.
#include <windows.h>
#include <objbase.h>

#include <utility>

namespace qb {

template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Value get() const { return value_; }
    bool valid() const { return Traits::isValid(value_); }
    explicit operator bool() const { return valid(); }

    Value release() {
        Value v = value_;
        value_ = Traits::empty();
        return v;
    }
    void reset(Value value = Traits::empty()) {
        if (Traits::isValid(value_)) Traits::close(value_);
        value_ = value;
    }
    // For out-parameters: frees the current value and hands out its address.
    Value* put() {
        reset();
        return &value_;
    }

private:
    Value value_ = Traits::empty();
};

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr && v != INVALID_HANDLE_VALUE; }
    static void close(Value v) { ::CloseHandle(v); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

struct RegKeyTraits {
    using Value = HKEY;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { ::RegCloseKey(v); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

template <typename T>
struct GdiObjectTraits {
    using Value = T;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { ::DeleteObject(v); }
};
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniqueRegion = UniqueResource<GdiObjectTraits<HRGN>>;

struct MemoryDcTraits {
    using Value = HDC;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { ::DeleteDC(v); }
};
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;

struct GlobalMemoryTraits {
    using Value = HGLOBAL;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { ::GlobalFree(v); }
};
using UniqueGlobal = UniqueResource<GlobalMemoryTraits>;

struct MappedViewTraits {
    using Value = const void*;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { ::UnmapViewOfFile(v); }
};
using UniqueView = UniqueResource<MappedViewTraits>;

// Selects an object into a DC and puts the previous one back when it goes out of scope,
// so a bitmap is never deleted while it is still selected.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~SelectGuard() {
        if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Initialises COM on this thread for the lifetime of the object.
class ComInit {
public:
    explicit ComInit(DWORD flags) : hr_(::CoInitializeEx(nullptr, flags)) {}
    ~ComInit() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;

private:
    HRESULT hr_;
};

}  // namespace qb
