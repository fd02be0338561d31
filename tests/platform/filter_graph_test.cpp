// The platform's filter graph manager is there and answers the interfaces the converter uses.
#include <gtest/gtest.h>

#include "dshow_uuids.h"

#include "com_ptr.h"
#include "test_platform.h"

using corvane::ComPtr;

namespace {

class FilterGraphManager : public ::testing::Test {
protected:
    testing_support::ComApartment com_;
};

TEST_F(FilterGraphManager, AnswersEveryControlInterfaceOfTheConverter)
{
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.PutVoid()));
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IMediaPosition> position;
    EXPECT_EQ(S_OK, graph.As(control));
    EXPECT_EQ(S_OK, graph.As(events));
    EXPECT_EQ(S_OK, graph.As(seeking));
    EXPECT_EQ(S_OK, graph.As(position));

    // An empty graph has nothing to report: its duration cannot be read.
    REFTIME duration = -1;
    EXPECT_FALSE(SUCCEEDED(position->get_Duration(&duration)) && duration > 0);

    // An empty event queue answers at once.
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));
}

TEST_F(FilterGraphManager, IsReleasedCompletely)
{
    IGraphBuilder* raw = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(&raw)));
    {
        ComPtr<IMediaControl> control;
        ComPtr<IGraphBuilder>(raw).As(control);
    }
    EXPECT_EQ(0u, raw->Release());
}

}  // namespace
