#include "halvex_host.h"

#include <oleauto.h>

#include "system_dlls.h"

namespace vellumo {

namespace {

// {D819D4BB-E84A-4857-AA94-B89F45E076ED}
constexpr IID DIID_IAtlHalvexEvents = {0xD819D4BB, 0xE84A, 0x4857, {0xAA, 0x94, 0xB8, 0x9F, 0x45, 0xE0, 0x76, 0xED}};

// atl.dll's host functions; no mingw header or import library has them.
using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxCreateControlExFn = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**, IUnknown**, REFIID, IUnknown*);

struct AtlHostLibrary {
    AtlAxWinInitFn init = nullptr;
    AtlAxCreateControlExFn createControlEx = nullptr;
    bool ready = false;
};

template <class Fn>
Fn Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The library stays loaded for the life of the process: host windows use its
// window procedure.
const AtlHostLibrary& AtlHost()
{
    static const AtlHostLibrary library = [] {
        AtlHostLibrary l;
        HMODULE module = LoadSystemDll(L"atl.dll");
        if (!module) return l;
        l.init = Resolve<AtlAxWinInitFn>(module, "AtlAxWinInit");
        l.createControlEx = Resolve<AtlAxCreateControlExFn>(module, "AtlAxCreateControlEx");
        l.ready = l.init && l.createControlEx && l.init();
        return l;
    }();
    return library;
}

// Sink for _IAtlHalvexEvents: passes each event on to its handler. Deleted
// only through Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class EventSink final : public IDispatch {
public:
    explicit EventSink(HalvexEvents* handler) : handler_(handler) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, DIID_IAtlHalvexEvents)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        // Hold ourselves: a handler may disconnect this sink while it runs.
        corvane::ComPtr<IDispatch> self(this);
        HalvexEvents* handler = handler_;
        if (!handler) return S_OK;
        switch (id) {
        case 1:
            handler->OnStopped();
            return S_OK;
        case 2:
            handler->OnFinished();
            return S_OK;
        case 3: {
            if (!params || params->cArgs < 1) return DISP_E_BADPARAMCOUNT;
            VARIANT code;
            VariantInit(&code);
            const HRESULT hr = VariantChangeType(&code, &params->rgvarg[params->cArgs - 1], 0, VT_I4);
            if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
            handler->OnError(V_I4(&code));
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

    void Disconnect() { handler_ = nullptr; }

private:
    ~EventSink() = default;
    LONG refs_ = 1;
    HalvexEvents* handler_;
};
#pragma GCC diagnostic pop

}  // namespace

HRESULT HalvexHost::Create(HWND parent, const RECT& where, int id, HalvexEvents* events)
{
    Destroy();
    const AtlHostLibrary& atl = AtlHost();
    if (!atl.ready) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);

    window_ = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                              where.left, where.top, where.right - where.left, where.bottom - where.top, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!window_) return HRESULT_FROM_WIN32(GetLastError());

    HRESULT hr = atl.createControlEx(HalvexProgId, window_, nullptr, container_.Put(), control_.Put(), IID_NULL,
                                     nullptr);
    corvane::ComPtr<IDispatch> dispatch;
    if (SUCCEEDED(hr)) hr = control_ ? control_.As(dispatch) : E_FAIL;
    if (FAILED(hr)) {
        Destroy();
        return hr;
    }
    dispatch_ = HalvexDispatch(dispatch);

    if (events) {
        corvane::ComPtr<IConnectionPointContainer> points;
        if (SUCCEEDED(control_.As(points)) &&
            SUCCEEDED(points->FindConnectionPoint(DIID_IAtlHalvexEvents, connectionPoint_.Put()))) {
            sink_ = corvane::ComPtr<IDispatch>::Attach(new EventSink(events));
            if (FAILED(connectionPoint_->Advise(sink_.Get(), &cookie_))) {
                cookie_ = 0;
                connectionPoint_.Reset();
            }
        }
    }
    return S_OK;
}

void HalvexHost::Destroy()
{
    if (sink_) static_cast<EventSink*>(sink_.Get())->Disconnect();
    if (connectionPoint_ && cookie_) connectionPoint_->Unadvise(cookie_);
    cookie_ = 0;
    connectionPoint_.Reset();
    sink_.Reset();
    dispatch_ = HalvexDispatch();
    control_.Reset();
    // Destroying the host window deactivates and releases the control.
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    window_ = nullptr;
    container_.Reset();
}

}  // namespace vellumo
