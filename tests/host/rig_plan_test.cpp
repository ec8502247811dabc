// What each device of a stream of several is configured with, in-process.
#include <gtest/gtest.h>

#include "HostError.h"
#include "multi/RigPlan.h"

namespace ni_usb_daq::host {
namespace {

const kra::device::OperationParams kCommon = {{"ai_channels", "Dev1/ai0:3, Dev4/ai0:1,Dev1/ai7"},
                                              {"sample_clock_rate_hz", "1000"}};

TEST(RigPlan, TheLeaderExportsWhatEachFollowerTakesFromItsOwnTerminalsAndStartsLast) {
    const auto plan = planRig(kCommon, {"/Dev1/PFI5=/Dev4/PFI1"}, {"Dev1/PFI4=Dev4/PFI0"});
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->devices.size(), 2U);
    EXPECT_TRUE(plan->synchronised());
    EXPECT_EQ(plan->startOrder(), (std::vector<std::size_t>{1, 0}));

    const auto leader = plan->settingsFor(0, kCommon);
    EXPECT_EQ(leader.at("ai_channels"), "Dev1/ai0:3,Dev1/ai7");
    EXPECT_EQ(leader.at("export_sample_clock_to"), "/Dev1/PFI5");
    EXPECT_EQ(leader.at("export_start_trigger_to"), "/Dev1/PFI4");
    EXPECT_FALSE(leader.contains("start_trigger_type"));

    const auto follower = plan->settingsFor(1, kCommon);
    EXPECT_EQ(follower.at("ai_channels"), "Dev4/ai0:1");
    EXPECT_EQ(follower.at("sample_clock_source"), "/Dev4/PFI1");
    EXPECT_EQ(follower.at("start_trigger_type"), "DIGITAL_EDGE");
    EXPECT_EQ(follower.at("start_trigger_source"), "/Dev4/PFI0");
    EXPECT_EQ(follower.at("sample_clock_rate_hz"), "1000");
    EXPECT_FALSE(follower.contains("export_sample_clock_to"));
    EXPECT_EQ(plan->wiring().size(), 2U);
}

TEST(RigPlan, DevicesOnTheirOwnClocksAreSaidToBeAndOneDeviceIsNoRig) {
    const auto plan = planRig(kCommon, {}, {});
    ASSERT_TRUE(plan);
    EXPECT_FALSE(plan->synchronised());
    EXPECT_EQ(plan->synchronisationText().rfind("not synchronised", 0), 0U)
        << plan->synchronisationText();
    EXPECT_FALSE(plan->settingsFor(1, kCommon).contains("sample_clock_source"));
    EXPECT_FALSE(planRig({{"ai_channels", "Dev1/ai0:3"}}, {}, {}));
}

TEST(RigPlan, WiringThatDoesNotFitTheDevicesIsRefused) {
    for (const auto& [clock, start] :
         std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>>{
             {{"/Dev1/PFI5"}, {"/Dev1/PFI4=/Dev4/PFI0"}},             // no '='
             {{"/Dev4/PFI5=/Dev1/PFI1"}, {"/Dev1/PFI4=/Dev4/PFI0"}},  // from a follower
             {{"/Dev1/PFI5=/Dev9/PFI1"}, {"/Dev1/PFI4=/Dev4/PFI0"}},  // no such device
             {{"/Dev1/PFI5=/Dev4/PFI1", "/Dev1/PFI6=/Dev4/PFI2"}, {"/Dev1/PFI4=/Dev4/PFI0"}},
             {{"/Dev1/PFI5=/Dev4/PFI1"}, {}},  // a clock without a start
         }) {
        EXPECT_THROW(planRig(kCommon, clock, start), UsageError)
            << (clock.empty() ? "" : clock.front());
    }
}

}  // namespace
}  // namespace ni_usb_daq::host
