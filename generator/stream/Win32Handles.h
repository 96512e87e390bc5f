// Small RAII owners for the Win32 objects the stream chain and the devices use.
#pragma once

#include <windows.h>

class TCriticalSection {
public:
    TCriticalSection() { InitializeCriticalSection(&section_); }
    ~TCriticalSection() { DeleteCriticalSection(&section_); }
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class TLock {
public:
    explicit TLock(TCriticalSection& section) : section_(section) { section_.Enter(); }
    ~TLock() { section_.Leave(); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

private:
    TCriticalSection& section_;
};

// Owns a kernel handle (event, thread, file); closes it on destruction.
class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE handle) : handle_(handle) {}
    ~THandle() { Reset(); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    THandle(THandle&& other) noexcept : handle_(other.Release()) {}
    THandle& operator=(THandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE h = handle_;
        handle_ = nullptr;
        return h;
    }
    void Reset(HANDLE handle = nullptr) {
        if (*this) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};
