// The registration probes: on this platform they decide whether the pack's
// stand-ins are registered; they must also recognise a filter that does
// behave (the pack's own stand-ins, registered in-process here).
#include <gtest/gtest.h>

#include "filter_test_support.h"
#include "standins/platform_probe.h"

namespace filter_tests {
namespace {

TEST(PlatformProbes, SystemFilters)
{
    testing_support::ComApartment com;
    const bool acm = vellumo::filters::SystemAcmWrapperWorks();
    const bool writer = vellumo::filters::SystemFileWriterWorks();
    std::printf("platform ACM wrapper works: %d, File Writer works: %d\n", acm, writer);
    if (testing_support::IsWine()) {
        EXPECT_FALSE(acm);
        EXPECT_FALSE(writer);
    }
}

TEST(PlatformProbes, RecogniseWorkingFilters)
{
    testing_support::ComApartment com;
    testing_support::FilterPackRegistration standIns(testing_support::PackStandInClasses());
    ASSERT_EQ(S_OK, standIns.Result());
    EXPECT_TRUE(vellumo::filters::SystemAcmWrapperWorks());
    EXPECT_TRUE(vellumo::filters::SystemFileWriterWorks());
}

}  // namespace
}  // namespace filter_tests
