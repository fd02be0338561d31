// The control as an object: creation through COM and through the server's
// exports (the class object, unloading, aggregation), the interfaces it
// answers, what it tells a container, late-bound calls through IDispatch (the
// registered type library), its connection point and its stored form.
#include <gtest/gtest.h>

#include <ocidl.h>
#include <shlwapi.h>

#include <deque>
#include <thread>
#include <utility>

#include "halvex_dispids.h"
#include "server_test_support.h"

namespace {

using namespace server_test;
using testing_support::ComApartment;

// The server module as COM loads it, with its exports.
class ServerExports : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        ASSERT_NE(nullptr, module_ = LoadLibraryW(ServerPath().c_str()));
        ASSERT_TRUE(getClassObject_ = Export<decltype(&DllGetClassObject)>("DllGetClassObject"));
        ASSERT_TRUE(canUnloadNow_ = Export<decltype(&DllCanUnloadNow)>("DllCanUnloadNow"));
    }
    void TearDown() override { if (module_) FreeLibrary(module_); }
    template <class F>
    F Export(const char* name) { return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name))); }

    ComApartment apartment_;
    HMODULE module_ = nullptr;
    decltype(&DllGetClassObject) getClassObject_ = nullptr;
    decltype(&DllCanUnloadNow) canUnloadNow_ = nullptr;
};

using Creation = ControlTest<IUnknown>;

TEST_F(Creation, OneIdentityForEveryInterface)
{
    const IID* answered[] = {
        &IID_IAtlHalvex, &IID_IDispatch, &IID_IViewObjectEx, &IID_IViewObject2, &IID_IViewObject,
        &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject, &IID_IOleWindow, &IID_IOleInPlaceActiveObject,
        &IID_IOleControl, &IID_IOleObject, &IID_IPersistStreamInit, &IID_IPersist, &IID_ISupportErrorInfo,
        &IID_IConnectionPointContainer, &IID_ISpecifyPropertyPages, &IID_IQuickActivate, &IID_IPersistStorage,
        &IID_IDataObject, &IID_IProvideClassInfo, &IID_IProvideClassInfo2,
    };
    for (const IID* iid : answered) {
        ComPtr<IUnknown> itf, identity;
        ASSERT_EQ(S_OK, control_->QueryInterface(*iid, itf.PutVoid()));
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, identity.PutVoid()));
        EXPECT_EQ(control_.Get(), identity.Get());
    }
    const IID* refused[] = {&IID_IPersistPropertyBag, &IID_IOleCache, &IID_IRunnableObject,
                            &IID_IPropertyNotifySink, &IID_IClassFactory, &DIID__IAtlHalvexEvents};
    for (const IID* iid : refused) {
        void* itf = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, control_->QueryInterface(*iid, &itf));
        EXPECT_EQ(nullptr, itf);
    }
    EXPECT_EQ(E_POINTER, control_->QueryInterface(IID_IOleObject, nullptr));
}

TEST_F(ServerExports, GetClassObjectAnswersOnlyTheControlClassAndOneObjectForAllThreads)
{
    EXPECT_EQ(E_POINTER, getClassObject_(CLSID_AtlHalvex, IID_IClassFactory, nullptr));
    for (const CLSID* other : {&IID_IAtlHalvex, &CLSID_StdFont}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(*other, IID_IClassFactory, &out));
        EXPECT_EQ(nullptr, out);
    }
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, getClassObject_(CLSID_AtlHalvex, IID_IOleObject, &out));
    EXPECT_EQ(nullptr, out);

    // ctest runs each case in its own process: the class object is made here,
    // by threads asking at once.
    void* objects[4] = {};
    std::thread threads[4];
    for (int i = 0; i < 4; ++i)
        threads[i] = std::thread([&, i] { getClassObject_(CLSID_AtlHalvex, IID_IClassFactory, &objects[i]); });
    for (std::thread& t : threads) t.join();
    for (void* object : objects) {
        ASSERT_NE(nullptr, object);
        EXPECT_EQ(objects[0], object);
    }
    for (int i = 1; i < 4; ++i) static_cast<IUnknown*>(objects[i])->Release();
    ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::Attach(static_cast<IClassFactory*>(objects[0]));

    ComPtr<IAtlHalvex> control;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IAtlHalvex, control.PutVoid()));
    EXPECT_TRUE(control);  // aggregation: see the Aggregation case
}

TEST_F(ServerExports, CanUnloadOnlyWithoutLiveObjectsOrLocks)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject_(CLSID_AtlHalvex, IID_IClassFactory, factory.PutVoid()));
    EXPECT_EQ(S_OK, canUnloadNow_());
    {
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IConnectionPointContainer, container.PutVoid()));
        EXPECT_EQ(S_FALSE, canUnloadNow_());
        ComPtr<IEnumConnectionPoints> points;
        ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Put()));
        container.Reset();
        EXPECT_EQ(S_FALSE, canUnloadNow_());  // the enumerator keeps the object alive
    }
    EXPECT_EQ(S_OK, canUnloadNow_());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, canUnloadNow_());
}

// An outer object that aggregates the control and counts its own references.
struct Outer final : IUnknown {
    virtual ~Outer() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IDataObject)) return E_NOINTERFACE;  // the outer's own decision
        if (!IsEqualIID(iid, IID_IUnknown)) return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

TEST(Aggregation, DelegatesIdentityAndReferencesToTheOuterObject)
{
    ComApartment apartment;
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(CLSID_AtlHalvex, &outer, CLSCTX_INPROC_SERVER, IID_IAtlHalvex, &out));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AtlHalvex, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&outer.inner)));
    EXPECT_EQ(1u, outer.refs);
    {
        ComPtr<IAtlHalvex> viaOuter;
        ASSERT_EQ(S_OK, outer.QueryInterface(IID_IAtlHalvex, viaOuter.PutVoid()));
        EXPECT_EQ(2u, outer.refs);  // the inner interface counts on the outer object
        ComPtr<IUnknown> identity;
        ASSERT_EQ(S_OK, viaOuter->QueryInterface(IID_IUnknown, identity.PutVoid()));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
        identity.Reset();
        // QueryInterface through the inner interfaces reaches the outer object.
        void* data = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, viaOuter->QueryInterface(IID_IDataObject, &data));
        ComPtr<IOleObject> ole;
        EXPECT_EQ(S_OK, viaOuter->QueryInterface(IID_IOleObject, ole.PutVoid()));
        SHORT bits = -1;
        EXPECT_EQ(S_OK, viaOuter->get_WAV_Bits(&bits));
        EXPECT_EQ(1, bits);
    }
    EXPECT_EQ(1u, outer.refs);
    EXPECT_EQ(0u, outer.inner->Release());
}

using ControlProtocol = ControlTest<IOleObject>;

TEST_F(ControlProtocol, AnswersFromTheRegistryAndItsDefaults)
{
    LPOLESTR type = nullptr;
    ASSERT_EQ(S_OK, control_->GetUserType(USERCLASSTYPE_FULL, &type));
    EXPECT_STREQ(L"AtlHalvex Class", type);
    CoTaskMemFree(type);
    SIZEL extent = {};
    EXPECT_EQ(DV_E_DVASPECT, control_->GetExtent(DVASPECT_ICON, &extent));  // the content's: see quick activation
    DVEXTENTINFO natural = {sizeof natural, DVEXTENT_CONTENT, {}};
    EXPECT_EQ(S_OK, As<IViewObjectEx>()->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &natural, &extent));
    EXPECT_EQ(5080, extent.cx);  // 2 x 2 inches
    EXPECT_EQ(5080, extent.cy);
    natural.dwExtentMode = DVEXTENT_INTEGRAL;
    EXPECT_EQ(E_FAIL, As<IViewObjectEx>()->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &natural, &extent));

    auto classInfo = As<IProvideClassInfo2>();
    GUID source = GUID_NULL;
    EXPECT_EQ(S_OK, classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    EXPECT_TRUE(IsEqualIID(DIID__IAtlHalvexEvents, source));
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, classInfo->GetClassInfo(coclass.Put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualCLSID(CLSID_AtlHalvex, attr->guid));
    coclass->ReleaseTypeAttr(attr);
    auto errorInfo = As<ISupportErrorInfo>();
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IAtlHalvex));
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IOleObject));
}

// A null pointer for an answer or an input is refused, as is an enumerator's
// count above one with nowhere to put the number fetched.
TEST_F(ControlProtocol, RefusesNullPointers)
{
    auto dispatch = As<IDispatch>();
    auto info = As<IProvideClassInfo2>();
    auto container = As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    ComPtr<IEnumConnectionPoints> points;
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IAtlHalvexEvents, point.Put()));
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Put()));
    ASSERT_EQ(S_OK, point->EnumConnections(connections.Put()));
    IConnectionPoint* item[2] = {};
    CONNECTDATA connection[2] = {};
#define CALL(call) {#call, call}
    const std::pair<const char*, HRESULT> calls[] = {
        CALL(dispatch->GetTypeInfoCount(nullptr)), CALL(dispatch->GetTypeInfo(0, 0, nullptr)),
        CALL(dispatch->GetIDsOfNames(IID_NULL, nullptr, 1, 0, nullptr)), CALL(info->GetClassInfo(nullptr)),
        CALL(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr)), CALL(container->EnumConnectionPoints(nullptr)),
        CALL(container->FindConnectionPoint(DIID__IAtlHalvexEvents, nullptr)), CALL(point->EnumConnections(nullptr)),
        CALL(point->Advise(dispatch.Get(), nullptr)), CALL(point->GetConnectionInterface(nullptr)),
        CALL(point->GetConnectionPointContainer(nullptr)), CALL(points->Next(2, item, nullptr)),
        CALL(points->Next(1, nullptr, nullptr)), CALL(points->Clone(nullptr)), CALL(connections->Clone(nullptr)),
        CALL(connections->Next(2, connection, nullptr)), CALL(control_->GetClientSite(nullptr)),
        CALL(control_->EnumVerbs(nullptr)), CALL(control_->GetUserClassID(nullptr)),
        CALL(control_->GetUserType(USERCLASSTYPE_FULL, nullptr)), CALL(control_->SetExtent(DVASPECT_CONTENT, nullptr)),
        CALL(control_->GetExtent(DVASPECT_CONTENT, nullptr)), CALL(control_->Advise(nullptr, nullptr)),
        CALL(control_->EnumAdvise(nullptr)), CALL(control_->GetMiscStatus(DVASPECT_CONTENT, nullptr)),
        CALL(As<IOleInPlaceObject>()->SetObjectRects(nullptr, nullptr)), CALL(As<IOleWindow>()->GetWindow(nullptr)),
        CALL(As<IQuickActivate>()->QuickActivate(nullptr, nullptr)), CALL(As<IViewObjectEx>()->GetViewStatus(nullptr)),
        CALL(As<IViewObjectEx>()->GetRect(DVASPECT_CONTENT, nullptr)), CALL(As<IDataObject>()->QueryGetData(nullptr)),
        CALL(As<IDataObject>()->GetData(nullptr, nullptr)), CALL(As<IDataObject>()->EnumDAdvise(nullptr)),
        CALL(As<IViewObjectEx>()->QueryHitRect(DVASPECT_CONTENT, nullptr, nullptr, 0, nullptr)),
        CALL(As<IDataObject>()->EnumFormatEtc(DATADIR_GET, nullptr)), CALL(As<IPersistStorage>()->GetClassID(nullptr)),
        CALL(As<IDataObject>()->DAdvise(nullptr, 0, nullptr, nullptr)), CALL(As<IPersistStorage>()->Load(nullptr)),
        CALL(As<IPersistStreamInit>()->Save(nullptr, TRUE)), CALL(As<IPersistStreamInit>()->GetSizeMax(nullptr)),
        CALL(As<IPersistStorage>()->Save(nullptr, TRUE)),
        CALL(As<IViewObjectEx>()->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr)),
    };
#undef CALL
    for (const auto& c : calls) EXPECT_EQ(E_POINTER, c.second) << c.first;
}

using LateBound = ControlTest<IDispatch>;

// The names and identifiers the control's IDispatch answers from the
// registered library (every one: the type library test; members called by
// name: the README's VBScript), and the parameters' defaults.
TEST_F(LateBound, AnswersFromTheRegisteredLibraryAndParametersKeepWhatIsWrittenUnchecked)
{
    auto invoke = [&](DISPID id, WORD flags, VARIANT* result, VARIANT* arg = nullptr) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {arg, arg ? &named : nullptr, arg ? 1u : 0u, arg ? 1u : 0u};
        if (result) VariantInit(result);
        return control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
    };
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"WAV_Bits"), const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(S_OK, control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(23, id);
    EXPECT_EQ(DISP_E_UNKNOWNNAME, control_->GetIDsOfNames(IID_NULL, names + 1, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, control_->GetIDsOfNames(IID_IOleObject, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(99, DISPATCH_METHOD, nullptr));
    // DamagedSeconds: known by name (in any case) beside the library, read-only, 0 before any run.
    LPOLESTR damaged[] = {const_cast<LPOLESTR>(L"damagedseconds")};
    EXPECT_EQ(S_OK, control_->GetIDsOfNames(IID_NULL, damaged, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(corvane::kDispDamagedSeconds, id);
    VARIANT seconds;
    ASSERT_EQ(S_OK, invoke(id, DISPATCH_PROPERTYGET, &seconds));
    EXPECT_EQ(VT_I4, seconds.vt);
    EXPECT_EQ(0, seconds.lVal);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, invoke(id, DISPATCH_PROPERTYPUT, nullptr, &seconds));
    UINT count = 0;
    EXPECT_EQ(S_OK, control_->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(DISP_E_BADINDEX, control_->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Put()));

    const struct {
        DISPID id;
        VARTYPE type;
        LONG initial;
        LONG written;  // out of the tables: stored as it is
    } params[] = {
        {14, VT_I2, 1, 7},  {15, VT_I2, 0, 2},  {16, VT_I2, 0, 3}, {17, VT_I2, 8, 13}, {18, VT_I4, 0, -5},
        {19, VT_I2, 3, 0},  {20, VT_I2, 9, 12}, {21, VT_I2, 0, 1}, {22, VT_I2, 2, -2}, {23, VT_I2, 1, 0},
    };
    for (const auto& p : params) {
        SCOPED_TRACE(p.id);
        VARIANT v, value;
        ASSERT_EQ(S_OK, invoke(p.id, DISPATCH_PROPERTYGET, &v));
        EXPECT_EQ(p.type, v.vt);
        EXPECT_EQ(p.initial, p.type == VT_I2 ? v.iVal : v.lVal);
        // Written as another integer type: the automation layer converts.
        value.vt = VT_I4;
        value.lVal = p.written;
        ASSERT_EQ(S_OK, invoke(p.id, DISPATCH_PROPERTYPUT, nullptr, &value));
        ASSERT_EQ(S_OK, invoke(p.id, DISPATCH_PROPERTYGET, &v));
        EXPECT_EQ(p.written, p.type == VT_I2 ? v.iVal : v.lVal);
    }
}

// --- The connection point for _IAtlHalvexEvents: slots and cookies, delivery
// order, refused and failing sinks, enumeration.
class Events : public ControlTest<IAtlHalvex> {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        ASSERT_EQ(S_OK, As<IConnectionPointContainer>()->FindConnectionPoint(DIID__IAtlHalvexEvents, point_.Put()));
        LoadMissingFile(control_.Get());  // Stop raises onStopped only when a graph is held
    }
    void TearDown() override { point_.Reset(); control_.Reset(); }  // the control goes before its sinks

    Sink& NewSink(const char* label) { return sinks_.emplace_back(&log_, label); }
    DWORD Advise(Sink& sink) { return server_test::Advise(control_.Get(), &sink); }
    // Stop raises onStopped synchronously.
    Strings Stopped()
    {
        log_.clear();
        EXPECT_EQ(S_OK, control_->Stop());
        return log_;
    }

    Strings log_;
    std::deque<Sink> sinks_;
    ComPtr<IConnectionPoint> point_;
};

// A sink without the event interface is refused and takes no slot.
TEST_F(Events, EverySinkReceivesEveryEventInCookieOrderEvenAfterAFailingOne)
{
    Sink& stranger = NewSink("stranger");
    stranger.answersEvents = false;
    DWORD cookie = 99;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point_->Advise(&stranger, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(1, stranger.refs);
    EXPECT_EQ(E_POINTER, point_->Advise(nullptr, &cookie));
    Sink& first = NewSink("1");
    first.result = E_FAIL;
    EXPECT_EQ(1u, Advise(first));
    EXPECT_EQ(2u, Advise(NewSink("2")));
    EXPECT_EQ((Strings{"1 stopped", "2 stopped"}), Stopped());
    log_.clear();
    const std::string error = "error " + std::to_string(80000 + LoadMissingFile(control_.Get()));
    EXPECT_EQ((Strings{"1 " + error, "2 " + error}), log_);
    for (const Sink& sink : sinks_) EXPECT_EQ(0, sink.malformed);
}

TEST_F(Events, UnadviseEmptiesTheSlotAndTheNextAdviseReusesIt)
{
    Sink& first = NewSink("1");
    Advise(first);
    Advise(NewSink("2"));
    const LONG held = first.refs;
    ASSERT_EQ(S_OK, point_->Unadvise(1));
    EXPECT_EQ(held - 1, first.refs);  // the sink is released
    for (DWORD cookie : {1, 0, 77}) EXPECT_EQ(CONNECT_E_NOCONNECTION, point_->Unadvise(cookie));
    EXPECT_EQ((Strings{"2 stopped"}), Stopped());

    EXPECT_EQ(1u, Advise(NewSink("3")));
    EXPECT_EQ((Strings{"3 stopped", "2 stopped"}), Stopped());

    // Slots grow 1, 4, 8: the sinks that follow get cookies 3 to 6.
    for (DWORD cookie = 3; cookie <= 6; ++cookie) EXPECT_EQ(cookie, Advise(NewSink("more")));
    // Releasing the control releases every connected sink.
    point_.Reset();
    control_.Reset();
    for (const Sink& sink : sinks_) EXPECT_EQ(1, sink.refs);
}

TEST_F(Events, ContainerOffersExactlyOnePointThatEnumeratesItsConnections)
{
    ComPtr<IConnectionPointContainer> container = As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, other.Put()));
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Put()));
    IConnectionPoint* items[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, items, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(point_.Get(), items[0]);
    items[0]->Release();
    EXPECT_EQ(S_FALSE, points->Next(1, items, &fetched));
    EXPECT_EQ(0u, fetched);

    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, point_->GetConnectionInterface(&iid));
    EXPECT_TRUE(IsEqualIID(DIID__IAtlHalvexEvents, iid));
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(S_OK, point_->GetConnectionPointContainer(back.Put()));
    EXPECT_EQ(container.Get(), back.Get());
    // The point counts its references on the control.
    const auto refs = [&] { control_->AddRef(); return control_->Release(); };
    const ULONG held = refs();
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, point_->QueryInterface(IID_IUnknown, unknown.PutVoid()));
    EXPECT_EQ(held + 1, refs());
    unknown.Reset();
    EXPECT_EQ(held, refs());

    Advise(NewSink("1"));
    Sink& second = NewSink("2");
    Advise(second);
    point_->Unadvise(1);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point_->EnumConnections(connections.Put()));
    CONNECTDATA data[3] = {};
    EXPECT_EQ(S_FALSE, connections->Next(3, data, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(2u, data[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(&second), data[0].pUnk);
    data[0].pUnk->Release();
}

// --- The stored form: the 12-byte stream and the "Contents" stream of a
// storage, IsDirty, and refusal of newer or truncated data.

using Bytes = std::vector<BYTE>;

Bytes StreamBytes(IStream* stream)
{
    ULARGE_INTEGER size = {};
    IStream_Size(stream, &size);
    Bytes bytes(static_cast<size_t>(size.QuadPart));
    IStream_Reset(stream);
    IStream_Read(stream, bytes.data(), static_cast<ULONG>(bytes.size()));
    return bytes;
}

ComPtr<IStream> StreamOf(const Bytes& bytes)
{
    return ComPtr<IStream>::Attach(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
}

// The stored record: the version (0x0700 now), then the extent in HIMETRIC.
Bytes Record(LONG cx, LONG cy, DWORD version = 0x0700)
{
    Bytes bytes;
    for (DWORD v : {version, static_cast<DWORD>(cx), static_cast<DWORD>(cy)})
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
    return bytes;
}

// The control's stream form, saved into a new stream.
Bytes Saved(IUnknown* control)
{
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> stream = StreamOf({});
    EXPECT_EQ(S_OK, control->QueryInterface(IID_IPersistStreamInit, persist.PutVoid()));
    EXPECT_EQ(S_OK, persist->Save(stream.Get(), TRUE));
    return StreamBytes(stream.Get());
}

class Persistence : public ControlTest<IPersistStreamInit> {
protected:
    void Resize(LONG cx, LONG cy)
    {
        SIZEL size = {cx, cy};
        ASSERT_EQ(S_OK, As<IOleObject>()->SetExtent(DVASPECT_CONTENT, &size));
    }
};

TEST_F(Persistence, StreamHoldsTwelveBytesAndRoundTrips)
{
    EXPECT_EQ(S_FALSE, control_->IsDirty());
    EXPECT_EQ(S_OK, control_->InitNew());
    EXPECT_EQ(S_OK, control_->IsDirty());
    EXPECT_EQ(Record(5080, 5080), Saved(control_.Get()));  // never resized: 2 x 2 inches
    EXPECT_EQ(S_OK, control_->IsDirty());  // Save leaves the flag as it was
    ULARGE_INTEGER max = {};
    EXPECT_EQ(S_OK, control_->GetSizeMax(&max));
    EXPECT_EQ(12u, max.QuadPart);

    Resize(1720, 860);
    EXPECT_EQ(Record(1720, 860), Saved(control_.Get()));
    ComPtr<IPersistStreamInit> copy = NewControl<IPersistStreamInit>();
    EXPECT_EQ(S_OK, copy->InitNew());
    ASSERT_EQ(S_OK, copy->Load(StreamOf(Record(1720, 860)).Get()));
    EXPECT_EQ(S_FALSE, copy->IsDirty());
    EXPECT_EQ(Record(1720, 860), Saved(copy.Get()));
    // Older versions and odd sizes load too.
    ASSERT_EQ(S_OK, copy->Load(StreamOf(Record(16, 32, 0x0600)).Get()));
    EXPECT_EQ(Record(16, 32), Saved(copy.Get()));
}

TEST_F(Persistence, NewerOrTruncatedDataIsRefusedAndChangesNothing)
{
    Resize(3000, 4000);
    Bytes cut = Record(16, 32);
    cut.resize(9);  // ends inside the record
    for (const Bytes& bytes : {Record(16, 32, 0x0701), Record(16, 32, 0x80000000u), cut, Bytes()}) {
        EXPECT_HRESULT_FAILED(control_->Load(StreamOf(bytes).Get())) << bytes.size();
        EXPECT_EQ(Record(3000, 4000), Saved(control_.Get()));
    }
    EXPECT_EQ(S_OK, control_->IsDirty());
    EXPECT_EQ(E_POINTER, control_->Load(nullptr));
}

TEST_F(Persistence, StorageHoldsTheSameBytesInContents)
{
    ComPtr<IPersistStorage> storageForm;
    ASSERT_EQ(S_OK, control_.As(storageForm));
    ComPtr<IStorage> storage;
    ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(
        nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0, storage.Put()));
    EXPECT_EQ(S_OK, storageForm->InitNew(storage.Get()));
    Resize(2540, 1270);
    ASSERT_EQ(S_OK, storageForm->Save(storage.Get(), TRUE));
    EXPECT_EQ(S_OK, storageForm->SaveCompleted(nullptr));
    ComPtr<IStream> contents;
    ASSERT_EQ(S_OK, storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.Put()));
    EXPECT_EQ(Record(2540, 1270), StreamBytes(contents.Get()));
    contents.Reset();

    ComPtr<IPersistStorage> copy;
    ASSERT_EQ(S_OK, NewControl<IPersistStreamInit>().As(copy));
    ASSERT_EQ(S_OK, copy->Load(storage.Get()));
    EXPECT_EQ(S_FALSE, copy->IsDirty());
    EXPECT_EQ(Record(2540, 1270), Saved(copy.Get()));
    // A storage that holds no "Contents", or cannot take one: its own error.
    ComPtr<IStorage> readOnly;
    const DWORD mode = STGM_SHARE_EXCLUSIVE;
    ASSERT_HRESULT_SUCCEEDED(storage->CreateStorage(L"ro", mode | STGM_READWRITE, 0, 0, readOnly.Put()));
    readOnly.Reset();
    ASSERT_HRESULT_SUCCEEDED(storage->OpenStorage(L"ro", nullptr, mode | STGM_READ, nullptr, 0, readOnly.Put()));
    EXPECT_EQ(STG_E_FILENOTFOUND, copy->Load(readOnly.Get()));
    EXPECT_EQ(STG_E_ACCESSDENIED, storageForm->Save(readOnly.Get(), TRUE));
}

}  // namespace
