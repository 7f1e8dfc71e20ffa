// The hub on the real binding: its start-up driver test, and dials through it.
#include "FakeCapiControl.h"
#include "FakeDriver.h"
#include "FakeRelayApp.h"
#include "TestMessage.h"

#include "capi/CCapiProvider.h"
#include "capi/CapiConstants.h"
#include "relay/CServiceRelay.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct HubCase {
    const char* name;
    const char* library;
    long installed;
    int state;
    const char* text;
};

void PrintTo(const HubCase& c, std::ostream* os) { *os << c.name; }

class CapiHub : public ::testing::TestWithParam<HubCase> {
protected:
    void SetUp() override { FakeDriver::Reset(); }
};

TEST_P(CapiHub, ShowsWhetherADriverAnswers)
{
    FakeDriver::Set("installed", GetParam().installed);
    CCapiOptions options = FakeDriver::Options();
    options.library = GetParam().library;
    CCapiProvider provider(options);
    FakeRelayApp app;
    CServiceRelay relay(&app, provider);
    std::string text;
    EXPECT_EQ(relay.GetStatusText(text), GetParam().state);
    EXPECT_EQ(text, GetParam().text);
    EXPECT_EQ(FakeDriver::Counter("register"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, CapiHub,
                         ::testing::Values(HubCase{"Answers", FAKE_CAPI_LIBRARY, 0, 1, "Bereit"},
                                           HubCase{"NotConfigured", FAKE_CAPI_LIBRARY, 0x1009, 0, "Fehler"},
                                           HubCase{"NotInstalled", FAKE_CAPI_LIBRARY, 0x1109, 0, "Fehler"},
                                           HubCase{"Missing", "libkestrin-no-such-capi.so.3", 0, 0, "Fehler"},
                                           HubCase{"Incomplete", FAKE_CAPI_NOPROFILE_LIBRARY, 0, 0, "Fehler"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CapiHubDial, DialReachesTheDriverAndReportsDialling)
{
    FakeDriver::Reset();
    CCapiProvider provider(FakeDriver::Options());
    FakeRelayApp app;
    CServiceRelay relay(&app, provider);
    EXPECT_TRUE(relay.Dial("123", nullptr));
    EXPECT_EQ(relay.m_nState, CServiceRelay::STATE_DIALLING);
    const std::vector<uint8_t> request = FakeDriver::WaitForKey(0x8002);
    ASSERT_FALSE(request.empty());
    EXPECT_EQ(ToHex(std::vector<uint8_t>(request.begin() + 14, request.begin() + 20)), "04 80 31 32 33 00");
    EXPECT_EQ(app.Reports(), (std::vector<int>{2}));
}

TEST(CapiHubDial, DialWhoseStartFailsSaysWhy)
{
    FakeDriver::Reset();
    FakeDriver::Set("register_result", 0x1008);
    CCapiProvider provider(FakeDriver::Options());
    FakeRelayApp app;
    CServiceRelay relay(&app, provider);
    EXPECT_TRUE(relay.Dial("123", nullptr));
    std::string text;
    EXPECT_EQ(relay.GetStatusText(text), CServiceRelay::STATE_READY);
    EXPECT_EQ(text, "Capi: 0x1008");
    EXPECT_EQ(app.Reports(), (std::vector<int>{1}));
}

TEST(CapiHubDial, DialWithoutADriverLeavesTheErrorState)
{
    FakeDriver::Reset();
    FakeDriver::Set("installed", 0x1009);
    CCapiProvider provider(FakeDriver::Options());
    FakeRelayApp app;
    CServiceRelay relay(&app, provider);
    EXPECT_TRUE(relay.Dial("123", nullptr));
    std::string text;
    EXPECT_EQ(relay.GetStatusText(text), CServiceRelay::STATE_NO_CAPI);
    EXPECT_EQ(text, "Fehler");
    EXPECT_TRUE(app.Reports().empty());
    EXPECT_EQ(FakeDriver::Counter("register"), 0u);
}

}  // namespace
