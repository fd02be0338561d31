// The graph runner against the platform's filter graph manager, and the
// subject/observer pair it notifies through.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>

#include "com_ptr.h"
#include "fake_filters.h"
#include "filter_wrappers.h"
#include "graph_runner.h"
#include "test_platform.h"

using corvane::ComPtr;
using corvane::GraphObserver;
using corvane::GraphRunner;
using corvane::GraphSubject;

namespace {

class RecordingObserver : public GraphObserver {
public:
    void OnNotify(LONG code, GraphSubject* subject, LONG extra) override
    {
        codes.push_back(code);
        if (onNotify) onNotify(code);
        GraphObserver::OnNotify(code, subject, extra);
    }
    std::vector<LONG> codes;
    std::function<void(LONG)> onNotify;
};

TEST(GraphSubjectTest, NotifiesFromLastAttachedToFirstAndListsEachObserverOnce)
{
    std::vector<std::string> order;
    struct Named : GraphObserver {
        Named(std::vector<std::string>& o, const char* n) : order(o), name(n) {}
        void OnNotify(LONG code, GraphSubject* s, LONG e) override
        {
            order.push_back(name);
            GraphObserver::OnNotify(code, s, e);
        }
        std::vector<std::string>& order;
        std::string name;
    };
    Named first(order, "first"), second(order, "second");
    {
        GraphSubject subject;
        subject.AttachObserver(&first);
        subject.AttachObserver(&second);
        subject.AttachObserver(&first);
        subject.AttachObserver(nullptr);
        EXPECT_EQ(2u, subject.ObserverCount());
        EXPECT_EQ(1u, first.Subjects().size());
        subject.Notify(88892, nullptr, 0);
        EXPECT_EQ((std::vector<std::string>{"second", "first"}), order);
    }
    // The departing subject told both observers with code 0.
    EXPECT_TRUE(first.Subjects().empty());
    EXPECT_TRUE(second.Subjects().empty());
}

TEST(GraphSubjectTest, ObserverDetachesFromItsSubjectsWhenDestroyed)
{
    GraphSubject a, b;
    {
        GraphObserver observer;
        a.AttachObserver(&observer);
        b.AttachObserver(&observer);
        ASSERT_EQ(2u, observer.Subjects().size());
    }
    EXPECT_EQ(0u, a.ObserverCount());
    EXPECT_EQ(0u, b.ObserverCount());
    a.DetachObserver(nullptr);
}

class GraphRunnerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lab_.Register()); }

    // Adds a double of the given class to the runner's graph.
    std::unique_ptr<corvane::FilterWrapper> Add(GraphRunner& runner, const CLSID& clsid, const char* name)
    {
        auto wrapper = std::make_unique<corvane::FilterWrapper>(runner.Graph(), clsid, name);
        EXPECT_TRUE(wrapper->Create());
        return wrapper;
    }

    void Queue(GraphRunner& runner, long code)
    {
        ComPtr<IMediaEventSink> sink;
        ASSERT_EQ(S_OK, ComPtr<IGraphBuilder>(runner.Graph()).QueryTo(IID_IMediaEventSink, sink.PutVoid()));
        ASSERT_TRUE(SUCCEEDED(sink->Notify(code, 0, 0)));
    }

    testing_support::ComApartment com_;
    fakes::FakeLab lab_;
};

TEST_F(GraphRunnerTest, CreateObtainsTheGraphOnceAndStartsStopped)
{
    GraphRunner runner;
    EXPECT_EQ(nullptr, runner.Graph());
    EXPECT_FALSE(runner.Run());
    EXPECT_FALSE(runner.Stop());
    EXPECT_FALSE(runner.SetNotifyWindow(nullptr));
    EXPECT_EQ(0.0, runner.Duration());

    ASSERT_TRUE(runner.Create());
    IGraphBuilder* graph = runner.Graph();
    ASSERT_NE(nullptr, graph);
    EXPECT_FALSE(runner.Create());
    EXPECT_EQ(graph, runner.Graph());
    EXPECT_EQ(GraphRunner::Stopped, runner.State());
}

TEST_F(GraphRunnerTest, StopWithoutRunAndSeekToZero)
{
    GraphRunner runner;
    ASSERT_TRUE(runner.Create());
    auto splitter = Add(runner, corvane::CLSID_RealSplitter, "Real Spliter");
    lab_.ClearLog();

    // Never run: reports success and the graph is not asked (its Stop would
    // reposition the seeking filters).
    EXPECT_TRUE(runner.Stop());
    EXPECT_TRUE(lab_.With("seek").empty());

    EXPECT_TRUE(runner.Seek(0.0));
    EXPECT_EQ((std::vector<std::string>{"seek 0 5 none 0"}), lab_.With("seek"));
    lab_.ClearLog();
    EXPECT_TRUE(runner.Seek(2.5));
    EXPECT_EQ((std::vector<std::string>{"seek 25000000 5 none 0"}), lab_.With("seek"));
}

TEST_F(GraphRunnerTest, DurationComesFromTheGraphAndIsZeroWhenNobodyAnswers)
{
    GraphRunner runner;
    ASSERT_TRUE(runner.Create());
    EXPECT_EQ(0.0, runner.Duration());
    auto splitter = Add(runner, corvane::CLSID_RealSplitter, "Real Spliter");
    EXPECT_NEAR(59.9, runner.Duration(), 1e-9);
}

TEST_F(GraphRunnerTest, RunAndStopChangeTheStateOnlyOnce)
{
    GraphRunner runner;
    ASSERT_TRUE(runner.Create());
    auto writer = Add(runner, CLSID_FileWriter, "File Writer");
    ASSERT_TRUE(runner.Run());
    EXPECT_EQ(GraphRunner::Running, runner.State());
    EXPECT_TRUE(runner.Run());
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, ComPtr<IGraphBuilder>(runner.Graph()).As(control));
    OAFilterState state = -1;
    control->GetState(1000, &state);
    EXPECT_EQ(State_Running, state);
    ASSERT_TRUE(runner.Stop());
    EXPECT_EQ(GraphRunner::Stopped, runner.State());
    control->GetState(1000, &state);
    EXPECT_EQ(State_Stopped, state);
}

TEST_F(GraphRunnerTest, DrainTurnsAbortsIntoOneNotificationEachAndDropsOtherEvents)
{
    GraphRunner runner;
    ASSERT_TRUE(runner.Create());
    RecordingObserver observer;
    runner.AttachObserver(&observer);

    Queue(runner, EC_USER + 7);
    Queue(runner, EC_ERRORABORT);
    Queue(runner, EC_USERABORT);
    Queue(runner, EC_USER + 8);
    runner.OnGraphEvent();
    EXPECT_EQ((std::vector<LONG>{88890, 88890}), observer.codes);

    // The queue is empty afterwards.
    observer.codes.clear();
    runner.OnGraphEvent();
    EXPECT_TRUE(observer.codes.empty());
}

TEST_F(GraphRunnerTest, CompletionIsNotifiedOnceWhenTheRendererReports)
{
    GraphRunner runner;
    ASSERT_TRUE(runner.Create());
    auto writer = Add(runner, CLSID_FileWriter, "File Writer");
    RecordingObserver observer;
    runner.AttachObserver(&observer);
    ASSERT_TRUE(runner.Run());

    ComPtr<IMediaEventSink> sink;
    ASSERT_EQ(S_OK, ComPtr<IGraphBuilder>(runner.Graph()).QueryTo(IID_IMediaEventSink, sink.PutVoid()));
    sink->Notify(EC_USER + 1, 0, 0);
    sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(writer->Filter()));
    sink->Notify(EC_USER + 2, 0, 0);
    runner.OnGraphEvent();
    EXPECT_EQ((std::vector<LONG>{88892}), observer.codes);
    runner.Stop();
}

TEST_F(GraphRunnerTest, DestroyingTheRunnerEmptiesItsObserversSubjectList)
{
    RecordingObserver observer;
    {
        GraphRunner runner;
        ASSERT_TRUE(runner.Create());
        runner.AttachObserver(&observer);
        ASSERT_EQ(1u, observer.Subjects().size());
    }
    EXPECT_TRUE(observer.Subjects().empty());
    EXPECT_EQ((std::vector<LONG>{0}), observer.codes);
}

TEST_F(GraphRunnerTest, AnObserverThatDestroysTheRunnerEndsTheDrain)
{
    // The runner lives in storage the test overwrites once it is destroyed,
    // so that any later use of it by the drain would fault.
    alignas(GraphRunner) unsigned char storage[sizeof(GraphRunner)];
    auto* runner = new (storage) GraphRunner;
    ASSERT_TRUE(runner->Create());
    RecordingObserver observer;
    runner->AttachObserver(&observer);
    bool destroyed = false;
    observer.onNotify = [&](LONG code) {
        if (code == 88890 && !destroyed) {
            destroyed = true;
            runner->~GraphRunner();
            memset(storage, 0xAB, sizeof(storage));
        }
    };
    Queue(*runner, EC_ERRORABORT);
    Queue(*runner, EC_ERRORABORT);
    runner->OnGraphEvent();
    EXPECT_TRUE(destroyed);
    // One abort, then the departure notice; the second abort was never fetched.
    EXPECT_EQ((std::vector<LONG>{88890, 0}), observer.codes);
    EXPECT_TRUE(observer.Subjects().empty());
}

TEST_F(GraphRunnerTest, ReleasesTheGraphCompletely)
{
    IGraphBuilder* graph = nullptr;
    {
        GraphRunner runner;
        ASSERT_TRUE(runner.Create());
        auto writer = Add(runner, CLSID_FileWriter, "File Writer");
        graph = runner.Graph();
        graph->AddRef();
    }
    EXPECT_EQ(0u, graph->Release());
    EXPECT_EQ(0, lab_.LiveFilters());
}

}  // namespace
