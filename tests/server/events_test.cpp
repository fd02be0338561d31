// The connection point for _IAtlHalvexEvents: slots and cookies, delivery
// order, refused and failing sinks, enumeration.
#include <gtest/gtest.h>

#include <deque>

#include "server_test_support.h"

namespace {

using namespace server_test;

class Events : public ControlTest<IAtlHalvex> {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        ASSERT_EQ(S_OK, As<IConnectionPointContainer>()->FindConnectionPoint(DIID__IAtlHalvexEvents, point_.Put()));
        LoadMissingFile(control_.Get());  // Stop raises onStopped only when a graph is held
    }
    void TearDown() override  // the control goes before its sinks
    {
        point_.Reset();
        control_.Reset();
    }

    Sink& NewSink(const char* label) { return sinks_.emplace_back(&log_, label); }
    DWORD Advise(Sink& sink)
    {
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, point_->Advise(&sink, &cookie));
        return cookie;
    }
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

TEST_F(Events, EverySinkReceivesEveryEventInCookieOrderEvenAfterAFailingOne)
{
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

TEST_F(Events, SinkWithoutTheEventInterfaceIsRefusedAndNeverCalled)
{
    Sink& stranger = NewSink("stranger");
    stranger.answersEvents = false;
    DWORD cookie = 99;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point_->Advise(&stranger, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(1, stranger.refs);
    EXPECT_EQ(E_POINTER, point_->Advise(nullptr, &cookie));
    EXPECT_TRUE(Stopped().empty());
}

TEST_F(Events, ContainerOffersExactlyOnePointThatEnumeratesItsConnections)
{
    ComPtr<IConnectionPointContainer> container = As<IConnectionPointContainer>();
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
    connections.Reset();
    point_->Unadvise(2);
}

}  // namespace
