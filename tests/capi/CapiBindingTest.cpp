// The driver binding: the all-or-none rule, the mapping of "not installed",
// registration with its bound, the release, and what a binding does to the process.
#include "FakeCapiControl.h"
#include "FakeDriver.h"

#include "capi/CCapiInterface.h"
#include "capi/CapiConstants.h"

#include <gtest/gtest.h>

#include <ostream>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace {

class CapiBinding : public ::testing::Test {
protected:
    void SetUp() override { FakeDriver::Reset(); }
    void TearDown() override
    {
        FakeDriver::Set("block_register", 0);
        FakeDriver::Reset();
    }
};

struct LibraryCase {
    const char* name;
    const char* library;
    bool bound;
};

void PrintTo(const LibraryCase& c, std::ostream* os) { *os << c.name; }

class CapiBindingLibraries : public ::testing::TestWithParam<LibraryCase> {
protected:
    void SetUp() override { FakeDriver::Reset(); }
};

TEST_P(CapiBindingLibraries, AllTenOrNone)
{
    CCapiOptions options = FakeDriver::Options();
    options.library = GetParam().library;
    CCapiInterface binding(options);
    EXPECT_EQ(binding.IsBound(), GetParam().bound);
    if (GetParam().bound) {
        EXPECT_EQ(binding.Installed(), 0u);
        return;
    }
    uint8_t message[Capi::SEND_BUFFER_SIZE] = {12, 0};
    const uint8_t* received = nullptr;
    EXPECT_EQ(binding.Installed(), Capi::INFO_NOT_INSTALLED);
    EXPECT_EQ(binding.Register(), Capi::INFO_NOT_INSTALLED);
    EXPECT_EQ(binding.PutMessage(message), Capi::INFO_NOT_INSTALLED);
    EXPECT_EQ(binding.GetMessage(received), Capi::INFO_NOT_INSTALLED);
    EXPECT_EQ(binding.WaitForSignal(), Capi::INFO_NOT_INSTALLED);
    EXPECT_EQ(binding.Release(), Capi::INFO_NOT_INSTALLED);
    EXPECT_FALSE(binding.Registered);
}

INSTANTIATE_TEST_SUITE_P(Libraries, CapiBindingLibraries,
                         ::testing::Values(LibraryCase{"Missing", "libkestrin-no-such-capi.so.3", false},
                                           LibraryCase{"WithoutGetProfile", FAKE_CAPI_NOPROFILE_LIBRARY, false},
                                           LibraryCase{"WithoutFileno", FAKE_CAPI_NOFILENO_LIBRARY, true},
                                           LibraryCase{"Complete", FAKE_CAPI_LIBRARY, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CapiBinding, ConstructionAndDestructionMakeNoDriverCall)
{
    { CCapiInterface binding(FakeDriver::Options()); }
    for (const char* call : {"installed", "register", "release", "put", "get", "wait", "fileno", "profile"})
        EXPECT_EQ(FakeDriver::Counter(call), 0u) << call;
}

TEST_F(CapiBinding, InstalledAnswersNotInstalledAsOneValue)
{
    struct Case {
        long library;
        uint32_t seen;
    };
    for (const Case& c : {Case{0, 0}, Case{0x1009, 0x1109}, Case{0x1109, 0x1109}, Case{0x1008, 0x1008}}) {
        FakeDriver::Set("installed", c.library);
        CCapiInterface binding(FakeDriver::Options());
        EXPECT_EQ(binding.Installed(), c.seen) << std::hex << c.library;
    }
}

TEST_F(CapiBinding, RegisterPassesTheSizesAndSetsNoDelayOnTheTransport)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    FakeDriver::Set("fileno", fd);
    CCapiInterface binding(FakeDriver::Options());
    ASSERT_EQ(binding.Register(), 0u);
    EXPECT_TRUE(binding.Registered);
    EXPECT_NE(binding.ApplID, 0u);
    EXPECT_EQ(fake_register_arg(0), 2u);
    EXPECT_EQ(fake_register_arg(1), 7u);
    EXPECT_EQ(fake_register_arg(2), 2048u);
    int on = 0;
    socklen_t size = sizeof on;
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size), 0);
    EXPECT_EQ(on, 1);
    close(fd);
}

TEST_F(CapiBinding, RegisterFailureIsReturnedAndLeavesNothingRegistered)
{
    struct Case {
        long library;
        uint32_t seen;
    };
    for (const Case& c : {Case{0x1001, 0x1001}, Case{0x1009, 0x1109}, Case{0x1008, 0x1008}}) {
        FakeDriver::Set("register_result", c.library);
        CCapiInterface binding(FakeDriver::Options());
        EXPECT_EQ(binding.Register(), c.seen);
        EXPECT_FALSE(binding.Registered);
        EXPECT_EQ(binding.ApplID, 0u);
    }
}

TEST_F(CapiBinding, RegisterThatNeverReturnsIsAbandonedAndReleasedWhenItDoes)
{
    FakeDriver::Set("block_register", 1);
    {
        CCapiInterface binding(FakeDriver::Options());
        EXPECT_EQ(binding.Register(), Capi::INFO_REGISTER_OS_RESOURCE);
        EXPECT_FALSE(binding.Registered);
        EXPECT_EQ(binding.ApplID, 0u);
    }
    // The binding is gone; the late registration is released by its helper.
    EXPECT_EQ(FakeDriver::Counter("release"), 0u);
    FakeDriver::Set("block_register", 0);
    ASSERT_TRUE(FakeDriver::WaitCounter("release", 1));
    EXPECT_EQ(fake_last_released(), 1u);
    EXPECT_EQ(fake_is_registered(1), 0);
}

TEST_F(CapiBinding, AfterReleaseNothingReachesTheDriver)
{
    CCapiInterface binding(FakeDriver::Options());
    ASSERT_EQ(binding.Register(), 0u);
    const uint32_t id = binding.ApplID;
    binding.Release();
    EXPECT_EQ(fake_last_released(), id);
    EXPECT_FALSE(binding.Registered);
    EXPECT_EQ(binding.ApplID, 0u);
    const unsigned puts = FakeDriver::Counter("put");
    uint8_t message[Capi::SEND_BUFFER_SIZE] = {12, 0, 1, 0, 0x08, 0x83, 2, 0, 1, 0, 0, 0};
    EXPECT_EQ(binding.PutMessage(message), Capi::INFO_NOT_INSTALLED);
    EXPECT_EQ(FakeDriver::Counter("put"), puts);
}

TEST_F(CapiBinding, DestroyingARegisteredBindingReleasesIt)
{
    {
        CCapiInterface binding(FakeDriver::Options());
        ASSERT_EQ(binding.Register(), 0u);
    }
    EXPECT_EQ(FakeDriver::Counter("release"), 1u);
    EXPECT_EQ(fake_is_registered(1), 0);
}

TEST_F(CapiBinding, BindingIgnoresBrokenPipes)
{
    CCapiInterface binding(FakeDriver::Options());
    struct sigaction current {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
}

}  // namespace
