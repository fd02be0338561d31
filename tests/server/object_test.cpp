// Creation of the control through COM and through the server's exports:
// the class object, unloading, aggregation, the interfaces the object
// answers, what it tells a container, and late-bound calls through IDispatch
// (the registered type library).
#include <gtest/gtest.h>

#include <ocidl.h>

#include <thread>

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

TEST(Creation, OneIdentityForEveryInterface)
{
    ComApartment apartment;
    ComPtr<IUnknown> object = NewControl<IUnknown>();
    ASSERT_TRUE(object);
    const IID* answered[] = {
        &IID_IAtlHalvex, &IID_IDispatch, &IID_IViewObjectEx, &IID_IViewObject2, &IID_IViewObject,
        &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject, &IID_IOleWindow, &IID_IOleInPlaceActiveObject,
        &IID_IOleControl, &IID_IOleObject, &IID_IPersistStreamInit, &IID_IPersist, &IID_ISupportErrorInfo,
        &IID_IConnectionPointContainer, &IID_ISpecifyPropertyPages, &IID_IQuickActivate, &IID_IPersistStorage,
        &IID_IDataObject, &IID_IProvideClassInfo, &IID_IProvideClassInfo2,
    };
    for (const IID* iid : answered) {
        ComPtr<IUnknown> itf, identity;
        ASSERT_EQ(S_OK, object->QueryInterface(*iid, itf.PutVoid()));
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, identity.PutVoid()));
        EXPECT_EQ(object.Get(), identity.Get());
    }
    const IID* refused[] = {&IID_IPersistPropertyBag, &IID_IOleCache, &IID_IRunnableObject,
                            &IID_IPropertyNotifySink, &IID_IClassFactory, &DIID__IAtlHalvexEvents};
    for (const IID* iid : refused) {
        void* itf = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*iid, &itf));
        EXPECT_EQ(nullptr, itf);
    }
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IOleObject, nullptr));
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
        ComPtr<IAtlHalvex> control;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IAtlHalvex, control.PutVoid()));
        EXPECT_EQ(S_FALSE, canUnloadNow_());
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, control.As(container));
        ComPtr<IEnumConnectionPoints> points;
        ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Put()));
        control.Reset();
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
class Outer final : public IUnknown {
public:
    virtual ~Outer() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IPersistPropertyBag)) return E_NOINTERFACE;  // the outer's own decision
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
    ASSERT_NE(nullptr, outer.inner);
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
        void* bag = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, viaOuter->QueryInterface(IID_IPersistPropertyBag, &bag));
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
    const ComPtr<IOleObject>& ole = control_;
    LPOLESTR type = nullptr;
    ASSERT_EQ(S_OK, ole->GetUserType(USERCLASSTYPE_FULL, &type));
    EXPECT_STREQ(L"AtlHalvex Class", type);
    CoTaskMemFree(type);
    SIZEL extent = {};
    EXPECT_EQ(DV_E_DVASPECT, ole->GetExtent(DVASPECT_ICON, &extent));  // the content's: see the persistence tests
    DVEXTENTINFO natural = {sizeof natural, DVEXTENT_CONTENT, {}};
    EXPECT_EQ(S_OK, As<IViewObjectEx>()->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &natural, &extent));
    EXPECT_EQ(5080, extent.cx);  // 2 x 2 inches
    EXPECT_EQ(5080, extent.cy);
    natural.dwExtentMode = DVEXTENT_INTEGRAL;
    EXPECT_EQ(E_FAIL, As<IViewObjectEx>()->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &natural, &extent));

    ComPtr<IProvideClassInfo2> classInfo;
    ASSERT_EQ(S_OK, ole.As(classInfo));
    GUID source = GUID_NULL;
    EXPECT_EQ(S_OK, classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    EXPECT_TRUE(IsEqualIID(DIID__IAtlHalvexEvents, source));
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, classInfo->GetClassInfo(coclass.Put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualCLSID(CLSID_AtlHalvex, attr->guid));
    coclass->ReleaseTypeAttr(attr);
    ComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(S_OK, ole.As(errorInfo));
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

}  // namespace
