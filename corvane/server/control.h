// AtlHalvexControl: the COM object of class AtlHalvex. It serves the
// converter (corvane::AtlHalvex) through IAtlHalvex and makes it an ActiveX
// control: windowed in-place activation, drawing, persisted extent,
// connection point and class information.
//
// The members are defined by interface group: control.cpp (identity and
// lifetime), control_dispatch.cpp (automation, connection points, class
// information), control_embedding.cpp (IOleObject, IOleControl,
// IQuickActivate), control_inplace.cpp (in-place activation and the window),
// control_persistence.cpp (IPersist*), control_drawing.cpp (IViewObject*,
// IDataObject and the picture).
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>

#include "atl_halvex.h"
#include "com_ptr.h"
#include "connection_point.h"
#include "control_window.h"
#include "corvane_idl.h"
#include "module.h"
#include "type_info.h"

namespace corvane::server {

class AtlHalvexControl final : public IAtlHalvex,
                               public IViewObjectEx,
                               public IOleInPlaceObjectWindowless,
                               public IOleInPlaceActiveObject,
                               public IOleControl,
                               public IOleObject,
                               public IPersistStreamInit,
                               public ISupportErrorInfo,
                               public IConnectionPointContainer,
                               public ISpecifyPropertyPages,
                               public IQuickActivate,
                               public IPersistStorage,
                               public IDataObject,
                               public IProvideClassInfo2,
                               private ControlWindowHandler {
public:
    // Class-object entry point: a new control, aggregated when outer is set.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out);

    // Format version at the head of the persisted stream.
    static constexpr DWORD StreamVersion = 0x00000700;
    static constexpr DWORD MiscStatus = 131473;

    // IUnknown (delegating)
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return outer_->QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;
    // DamagedSeconds, served beside the type library's members.
    HRESULT InvokeDamagedSeconds(WORD flags, DISPPARAMS* params, VARIANT* result);

    // IAtlHalvex
    STDMETHODIMP Convert() override { return converter_.Convert(); }
    STDMETHODIMP get_SaveFile(BSTR* pVal) override { return converter_.get_SaveFile(pVal); }
    STDMETHODIMP put_SaveFile(BSTR newVal) override { return converter_.put_SaveFile(newVal); }
    STDMETHODIMP Play() override { return converter_.Play(); }
    STDMETHODIMP Stop() override { return converter_.Stop(); }
    STDMETHODIMP get_LoadFile(BSTR FileName, LONG* pVal) override { return converter_.get_LoadFile(FileName, pVal); }
    STDMETHODIMP get_TotalLength(LONG* pVal) override { return converter_.get_TotalLength(pVal); }
    STDMETHODIMP get_CurrentLength(LONG* pVal) override { return converter_.get_CurrentLength(pVal); }
    STDMETHODIMP get_Format(SHORT* pVal) override { return converter_.get_Format(pVal); }
    STDMETHODIMP put_Format(SHORT newVal) override { return converter_.put_Format(newVal); }
    STDMETHODIMP get_MP3_Frequency(SHORT* pVal) override { return converter_.get_MP3_Frequency(pVal); }
    STDMETHODIMP put_MP3_Frequency(SHORT newVal) override { return converter_.put_MP3_Frequency(newVal); }
    STDMETHODIMP get_MP3_Channels(SHORT* pVal) override { return converter_.get_MP3_Channels(pVal); }
    STDMETHODIMP put_MP3_Channels(SHORT newVal) override { return converter_.put_MP3_Channels(newVal); }
    STDMETHODIMP get_MP3_Bitrate(SHORT* pVal) override { return converter_.get_MP3_Bitrate(pVal); }
    STDMETHODIMP put_MP3_Bitrate(SHORT newVal) override { return converter_.put_MP3_Bitrate(newVal); }
    STDMETHODIMP get_MP3_VBR(LONG* pVal) override { return converter_.get_MP3_VBR(pVal); }
    STDMETHODIMP put_MP3_VBR(LONG newVal) override { return converter_.put_MP3_VBR(newVal); }
    STDMETHODIMP get_MP3_VBR_MinBitrate(SHORT* pVal) override { return converter_.get_MP3_VBR_MinBitrate(pVal); }
    STDMETHODIMP put_MP3_VBR_MinBitrate(SHORT newVal) override { return converter_.put_MP3_VBR_MinBitrate(newVal); }
    STDMETHODIMP get_MP3_VBR_MaxBitrate(SHORT* pVal) override { return converter_.get_MP3_VBR_MaxBitrate(pVal); }
    STDMETHODIMP put_MP3_VBR_MaxBitrate(SHORT newVal) override { return converter_.put_MP3_VBR_MaxBitrate(newVal); }
    STDMETHODIMP get_WAV_Frequency(SHORT* pVal) override { return converter_.get_WAV_Frequency(pVal); }
    STDMETHODIMP put_WAV_Frequency(SHORT newVal) override { return converter_.put_WAV_Frequency(newVal); }
    STDMETHODIMP get_WAV_Channels(SHORT* pVal) override { return converter_.get_WAV_Channels(pVal); }
    STDMETHODIMP put_WAV_Channels(SHORT newVal) override { return converter_.put_WAV_Channels(newVal); }
    STDMETHODIMP get_WAV_Bits(SHORT* pVal) override { return converter_.get_WAV_Bits(pVal); }
    STDMETHODIMP put_WAV_Bits(SHORT newVal) override { return converter_.put_WAV_Bits(newVal); }

    // IViewObject, IViewObject2, IViewObjectEx
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                      HDC drawDc, LPCRECTL bounds, LPCRECTL windowBounds, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                      ULONG_PTR contArg) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                             LOGPALETTE** colors) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
    STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
    STDMETHODIMP GetViewStatus(DWORD* status) override;
    STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint, DWORD* hit) override;
    STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint, DWORD* hit) override;
    STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetDevice,
                                  DVEXTENTINFO* info, LPSIZEL size) override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    STDMETHODIMP OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    STDMETHODIMP GetDropTarget(IDropTarget** target) override;

    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* msg) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT pos) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IPersist, IPersistStreamInit, IPersistStorage
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP InitNew(IStorage* storage) override;
    STDMETHODIMP Load(IStorage* storage) override;
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* storage) override;
    STDMETHODIMP HandsOffStorage() override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    STDMETHODIMP SetContentExtent(LPSIZEL size) override;
    STDMETHODIMP GetContentExtent(LPSIZEL size) override;

    // IDataObject
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advise) override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

private:
    // The object's own, non-delegating IUnknown: its identity.
    class Inner final : public IUnknown {
    public:
        explicit Inner(AtlHalvexControl& owner) : owner_(owner) {}
        virtual ~Inner() = default;
        STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        AtlHalvexControl& owner_;
        volatile LONG refs_ = 1;
    };

    explicit AtlHalvexControl(IUnknown* outer);
    ~AtlHalvexControl();
    AtlHalvexControl(const AtlHalvexControl&) = delete;
    AtlHalvexControl& operator=(const AtlHalvexControl&) = delete;

    // ControlWindowHandler
    void OnGraphEventMessage() override;
    void OnPaint(HDC dc, const RECT& client) override;
    void OnWindowDestroyed() override;

    HRESULT InPlaceActivate(LONG verb);
    HRESULT UIActivate();
    void ViewChanged();
    HRESULT ReadStream(IStream* stream);

    ModuleLock moduleLock_;
    Inner inner_;
    IUnknown* outer_;
    corvane::AtlHalvex converter_;
    EventConnectionPoint connectionPoint_;
    TypeInfoHolder dispatchInfo_;
    TypeInfoHolder classInfo_;

    SIZEL naturalExtent_ = {5080, 5080};
    SIZEL extent_ = {5080, 5080};
    bool needsSaving_ = false;

    ComPtr<IOleClientSite> clientSite_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    ComPtr<IOleInPlaceFrame> frame_;
    ComPtr<IOleInPlaceUIWindow> document_;
    ComPtr<IOleAdviseHolder> oleAdvise_;
    ComPtr<IDataAdviseHolder> dataAdvise_;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewAdvf_ = 0;
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    HWND window_ = nullptr;
    RECT pos_ = {};
};

}  // namespace corvane::server
