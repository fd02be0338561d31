// ComPtr: an owned COM interface reference, released exactly once.
#pragma once

#include <unknwn.h>
#include <utility>

namespace corvane {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) noexcept : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& o) noexcept {
        if (this != &o) { ComPtr tmp(o); Swap(tmp); }
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) { Reset(); p_ = o.p_; o.p_ = nullptr; }
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept { Reset(); return *this; }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Attach(T* p) noexcept { ComPtr r; r.p_ = p; return r; }
    // Gives the reference up to the caller (no Release).
    T* Detach() noexcept { T* p = p_; p_ = nullptr; return p; }

    void Reset() noexcept {
        if (p_) { T* p = p_; p_ = nullptr; p->Release(); }
    }
    void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For out-parameters: releases what is held and returns the slot.
    T** Put() noexcept { Reset(); return &p_; }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    // QueryInterface into another smart pointer; returns the HRESULT.
    template <class U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        if (!p_) { out.Reset(); return E_POINTER; }
        return p_->QueryInterface(__uuidof(U), out.PutVoid());
    }
    HRESULT QueryTo(REFIID iid, void** out) const noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        return p_ ? p_->QueryInterface(iid, out) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) noexcept { return a.Get() == b.Get(); }

}  // namespace corvane
