#pragma once
// One owner for a handle of the operating system (a file, a key, a loaded library, a
// font...): the handle is closed once, by the close function it is declared with, when its
// holder goes or is given another handle.
//
//   using TFontHandle = THandleHolder<HFONT, &DeleteObject>;
//   using TFileHandle = THandleHolder<HANDLE, &CloseHandle, TNullOrInvalidHandle>;
//
// What counts as "no handle" is null unless the third parameter says otherwise (a type
// with `static T None()`, the value an empty holder keeps, and `static bool Is(T)`): some
// calls hand back INVALID_HANDLE_VALUE, or a negative number, instead.

#include <utility>

template <typename T>
struct TNullHandle {
    static T None() { return T{}; }
    static bool Is(T handle) { return handle == T{}; }
};

template <typename T, auto Close, typename Empty = TNullHandle<T>>
class THandleHolder {
public:
    THandleHolder() = default;
    explicit THandleHolder(T handle) : FHandle(handle) {}
    ~THandleHolder() { Reset(); }
    THandleHolder(const THandleHolder&) = delete;
    THandleHolder& operator=(const THandleHolder&) = delete;
    THandleHolder(THandleHolder&& other) noexcept : FHandle(other.Release()) {}
    THandleHolder& operator=(THandleHolder&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    T Get() const { return FHandle; }
    bool Valid() const { return !Empty::Is(FHandle); }
    explicit operator bool() const { return Valid(); }

    // The handle, no longer closed by this holder.
    T Release() { return std::exchange(FHandle, Empty::None()); }
    // The handle held so far closed, `handle` held instead.
    void Reset(T handle = Empty::None()) {
        const T old = std::exchange(FHandle, handle);
        if (!Empty::Is(old)) Close(old);
    }

private:
    T FHandle = Empty::None();
};
