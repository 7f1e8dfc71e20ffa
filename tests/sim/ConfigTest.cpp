#include "sim/CSimConfig.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

using EAnswer = CSimConfig::EAnswer;

struct SDeviceCase {
    const char* Text;       // --device value
    bool Ok;                // accepted
    EAnswer Answer;         // behaviour when accepted
    std::uint64_t Clear;    // clear-after bytes
};

class DeviceSpec : public ::testing::TestWithParam<SDeviceCase> {};

TEST_P(DeviceSpec, Parses)
{
    const auto& c = GetParam();
    CSimConfig::SDevice device;
    std::string error;
    ASSERT_EQ(CSimConfig::ParseDevice(c.Text, device, error), c.Ok) << c.Text << ": " << error;
    if (!c.Ok) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(device.Answer, c.Answer);
    EXPECT_EQ(device.ClearAfterBytes, c.Clear);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceSpec,
    ::testing::Values(SDeviceCase { "123=demo", true, EAnswer::Demo, 0 },
        SDeviceCase { "123=forward=8080", true, EAnswer::Forward, 0 },
        SDeviceCase { "124=busy", true, EAnswer::Busy, 0 },
        SDeviceCase { "125=noanswer=200", true, EAnswer::NoAnswer, 0 },
        SDeviceCase { "126=refuse-b3", true, EAnswer::RefuseB3, 0 },
        SDeviceCase { "127=demo,clear-after=5000", true, EAnswer::Demo, 5000 },
        SDeviceCase { "128=clear-after=10", true, EAnswer::Demo, 10 },
        SDeviceCase { "123", false, EAnswer::Demo, 0 },
        SDeviceCase { "12a=demo", false, EAnswer::Demo, 0 },
        SDeviceCase { "=demo", false, EAnswer::Demo, 0 },
        SDeviceCase { "123=forward=0", false, EAnswer::Demo, 0 },
        SDeviceCase { "123=forward=70000", false, EAnswer::Demo, 0 },
        SDeviceCase { "123=busy,demo", false, EAnswer::Demo, 0 },
        SDeviceCase { "123=ringing", false, EAnswer::Demo, 0 },
        SDeviceCase { "123=demo,clear-after=-1", false, EAnswer::Demo, 0 }));

TEST(SimConfig, CommandLineAndFileTakeTheSameOptions)
{
    char path[] = "/tmp/kestrin-sim-config-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream out(path);
        out << "# practice setup\nrate 16000\ndevice 200=busy\n  setup-delay 150  # ms\n";
    }
    CSimConfig config;
    bool help = false;
    std::string error;
    ASSERT_TRUE(config.ParseArgs({ "--port", "0", "--config", path, "--device=201=noanswer", "--incoming", "999" }, help, error))
        << error;
    std::remove(path);
    EXPECT_EQ(config.RateBytesPerSecond, 16000u);
    EXPECT_EQ(config.SetupDelayMs, 150);
    ASSERT_NE(config.FindDevice("200"), nullptr);
    EXPECT_EQ(config.FindDevice("201")->Answer, EAnswer::NoAnswer);
    ASSERT_TRUE(config.Incoming);
    EXPECT_EQ(config.Incoming->Calling, "999");
    config.AddDefaultDevices();
    EXPECT_EQ(config.FindDevice("100"), nullptr) << "defaults only when nothing was configured";
}

TEST(SimConfig, RefusesBadOptionsWithAReason)
{
    for (std::vector<std::string> args : { std::vector<std::string> { "--port", "65536" }, { "--rate" }, { "--bogus", "1" },
             { "stray" }, { "--config", "/nonexistent/sim.conf" }, { "--incoming-delay", "10" } }) {
        CSimConfig config;
        bool help = false;
        std::string error;
        EXPECT_FALSE(config.ParseArgs(args, help, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

} // namespace
