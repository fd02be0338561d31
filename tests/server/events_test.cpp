// The connection point for _IAtlHalvexEvents: slots and cookies, delivery
// order, refused and failing sinks, enumeration and quick activation.
#include <gtest/gtest.h>

#include <deque>

#include "server_test_support.h"
#include "test_platform.h"

namespace {

using namespace server_test;
using testing_support::ComApartment;

class Events : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        ASSERT_HRESULT_SUCCEEDED(
            CoCreateInstance(CLSID_AtlHalvex, nullptr, CLSCTX_INPROC_SERVER, IID_IAtlHalvex, control_.PutVoid()));
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, control_.As(container));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IAtlHalvexEvents, point_.Put()));
        // Stop raises onStopped only when a graph is held: a failed load leaves one.
        LONG stage = -1;
        BSTR missing = SysAllocString(L"C:\\no such folder\\missing.rm");
        ASSERT_EQ(S_OK, control_->get_LoadFile(missing, &stage));
        SysFreeString(missing);
    }

    // Stop raises onStopped synchronously.
    void RaiseStopped() { ASSERT_EQ(S_OK, control_->Stop()); }

    // Sinks outlive the control (members are destroyed in reverse order).
    RecordingSink& NewSink(int id, bool answersEvents = true, bool failing = false)
    {
        sinks_.emplace_back(id, &log_, answersEvents, failing);
        return sinks_.back();
    }

    std::vector<EventRecord> log_;
    std::deque<RecordingSink> sinks_;
    ComApartment apartment_;
    ComPtr<IAtlHalvex> control_;
    ComPtr<IConnectionPoint> point_;
};

TEST_F(Events, TwoSinksReceiveEveryEventInCookieOrder)
{
    RecordingSink& first = NewSink(1);
    RecordingSink& second = NewSink(2);
    DWORD cookie1 = 0;
    DWORD cookie2 = 0;
    ASSERT_EQ(S_OK, point_->Advise(&first, &cookie1));
    ASSERT_EQ(S_OK, point_->Advise(&second, &cookie2));
    EXPECT_EQ(1u, cookie1);
    EXPECT_EQ(2u, cookie2);

    RaiseStopped();
    LONG stage = -1;
    BSTR missing = SysAllocString(L"C:\\no such folder\\missing.rm");
    ASSERT_EQ(S_OK, control_->get_LoadFile(missing, &stage));
    SysFreeString(missing);

    ASSERT_EQ(4u, log_.size());
    EXPECT_EQ(1, log_[0].sink);
    EXPECT_EQ(1, log_[0].id);  // onStopped
    EXPECT_EQ(2, log_[1].sink);
    EXPECT_EQ(1, log_[1].id);
    EXPECT_EQ(1, log_[2].sink);
    EXPECT_EQ(3, log_[2].id);  // onError with the stage's code
    EXPECT_EQ(80000 + stage, log_[2].code);
    EXPECT_EQ(2, log_[3].sink);
    EXPECT_EQ(80000 + stage, log_[3].code);

    EXPECT_EQ(S_OK, point_->Unadvise(cookie1));
    EXPECT_EQ(S_OK, point_->Unadvise(cookie2));
}

TEST_F(Events, UnadviseEmptiesTheSlotAndTheNextAdviseReusesIt)
{
    RecordingSink& first = NewSink(1);
    RecordingSink& second = NewSink(2);
    RecordingSink& third = NewSink(3);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point_->Advise(&first, &cookie));
    ASSERT_EQ(S_OK, point_->Advise(&second, &cookie));
    const ULONG held = first.Refs();
    ASSERT_EQ(S_OK, point_->Unadvise(1));
    EXPECT_EQ(held - 1, first.Refs());  // the sink is released
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point_->Unadvise(1));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point_->Unadvise(0));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point_->Unadvise(77));

    RaiseStopped();
    ASSERT_EQ(1u, log_.size());
    EXPECT_EQ(2, log_[0].sink);

    log_.clear();
    ASSERT_EQ(S_OK, point_->Advise(&third, &cookie));
    EXPECT_EQ(1u, cookie);
    RaiseStopped();
    ASSERT_EQ(2u, log_.size());
    EXPECT_EQ(3, log_[0].sink);
    EXPECT_EQ(2, log_[1].sink);

    // Slots grow 1, 4, 8: the sixth sink gets cookie 6.
    RecordingSink* more[4] = {&NewSink(4), &NewSink(5), &NewSink(6), &NewSink(7)};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(S_OK, point_->Advise(more[i], &cookie));
        EXPECT_EQ(static_cast<DWORD>(3 + i), cookie);
    }
    // Releasing the control releases every connected sink.
    point_.Reset();
    control_.Reset();
    EXPECT_EQ(1u, second.Refs());
    EXPECT_EQ(1u, third.Refs());
    for (RecordingSink* sink : more) EXPECT_EQ(1u, sink->Refs());
}

TEST_F(Events, SinkWithoutTheEventInterfaceIsRefusedAndNeverCalled)
{
    RecordingSink& stranger = NewSink(1, /*answersEvents=*/false);
    DWORD cookie = 99;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point_->Advise(&stranger, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(1u, stranger.Refs());
    EXPECT_EQ(E_POINTER, point_->Advise(nullptr, &cookie));
    RaiseStopped();
    EXPECT_TRUE(log_.empty());
}

TEST_F(Events, FailingSinkDoesNotStopDelivery)
{
    RecordingSink& failing = NewSink(1, true, /*failing=*/true);
    RecordingSink& good = NewSink(2);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point_->Advise(&failing, &cookie));
    ASSERT_EQ(S_OK, point_->Advise(&good, &cookie));
    RaiseStopped();
    ASSERT_EQ(2u, log_.size());
    EXPECT_EQ(2, log_[1].sink);
    point_->Unadvise(1);
    point_->Unadvise(2);
}

TEST_F(Events, ContainerOffersExactlyOnePoint)
{
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, control_.As(container));
    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IPropertyNotifySink, other.Put()));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, other.Put()));

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Put()));
    IConnectionPoint* items[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, items, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(point_.Get(), items[0]);
    items[0]->Release();

    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, point_->GetConnectionInterface(&iid));
    EXPECT_TRUE(IsEqualIID(DIID__IAtlHalvexEvents, iid));
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(S_OK, point_->GetConnectionPointContainer(back.Put()));
    EXPECT_EQ(container.Get(), back.Get());

    RecordingSink& a = NewSink(1);
    RecordingSink& b = NewSink(2);
    DWORD cookie = 0;
    point_->Advise(&a, &cookie);
    point_->Advise(&b, &cookie);
    point_->Unadvise(1);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point_->EnumConnections(connections.Put()));
    CONNECTDATA data[3] = {};
    EXPECT_EQ(S_FALSE, connections->Next(3, data, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(2u, data[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(&b), data[0].pUnk);
    data[0].pUnk->Release();
    connections.Reset();
    point_->Unadvise(2);
}

// A client site that is nothing more than an IOleClientSite.
class PlainSite final : public IOleClientSite {
public:
    virtual ~PlainSite() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
            *out = static_cast<IOleClientSite*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    ULONG refs = 1;
};

TEST_F(Events, QuickActivateConnectsTheSinkAndSetsTheSite)
{
    ComPtr<IQuickActivate> quick;
    ASSERT_EQ(S_OK, control_.As(quick));
    PlainSite site;
    RecordingSink& sink = NewSink(1);
    QACONTAINER container = {};
    container.cbSize = sizeof container;
    container.pClientSite = &site;
    container.pUnkEventSink = &sink;
    QACONTROL result = {};
    result.cbSize = sizeof result;
    ASSERT_EQ(S_OK, quick->QuickActivate(&container, &result));
    EXPECT_EQ(1u, result.dwEventCookie);
    EXPECT_EQ(131473u, result.dwMiscStatus);

    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, control_.As(ole));
    ComPtr<IOleClientSite> current;
    ASSERT_EQ(S_OK, ole->GetClientSite(current.Put()));
    EXPECT_EQ(static_cast<IOleClientSite*>(&site), current.Get());
    current.Reset();

    RaiseStopped();
    EXPECT_EQ(1u, log_.size());

    SIZEL size = {1000, 2000};
    EXPECT_EQ(S_OK, quick->SetContentExtent(&size));
    SIZEL back = {};
    EXPECT_EQ(S_OK, quick->GetContentExtent(&back));
    EXPECT_EQ(1000, back.cx);
    EXPECT_EQ(2000, back.cy);

    EXPECT_EQ(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_EQ(S_OK, ole->SetClientSite(nullptr));
    EXPECT_EQ(1u, site.refs);
    point_->Unadvise(1);
}

}  // namespace
