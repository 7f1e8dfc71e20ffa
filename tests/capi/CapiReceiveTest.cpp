// The receive thread: Start and its failures, the loop's bounded waits, the
// release made by the thread itself, the lost link, and a thread that does
// not come back from the driver.
#include "FakeCapiControl.h"
#include "FakeDriver.h"
#include "TestMessage.h"

#include "capi/CCapiOperations.h"
#include "capi/CapiConstants.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

class CapiReceive : public ::testing::Test {
protected:
    void SetUp() override { FakeDriver::Reset(); }
    void TearDown() override
    {
        FakeDriver::Set("stall_wait", 0);
        FakeDriver::Set("block_register", 0);
    }
};

TEST_F(CapiReceive, StartRegistersAndDispatchesOnTheReceiveThread)
{
    CCapiOperations ops(FakeDriver::Options());
    ASSERT_EQ(ops.Start(), 0);
    EXPECT_EQ(ops.StartInfo, 0u);
    EXPECT_TRUE(ops.Registered);
    FakeDriver::Push(Ind::ConnectInd(3, 0x201));
    EXPECT_FALSE(FakeDriver::WaitForKey(0x8302).empty());
}

TEST_F(CapiReceive, StartThatFailsLeavesNoThreadAndSaysWhy)
{
    struct Case {
        const char* setting;
        long value;
        uint32_t info;
    };
    for (const Case& c : {Case{"installed", 0x1009, 0x1109}, Case{"register_result", 0x1001, 0x1001},
                          Case{"block_register", 1, Capi::INFO_REGISTER_OS_RESOURCE}}) {
        FakeDriver::Reset();
        FakeDriver::Set(c.setting, c.value);
        CCapiOperations ops(FakeDriver::Options());
        EXPECT_EQ(ops.Start(), 1) << c.setting;
        EXPECT_EQ(ops.StartInfo, c.info) << c.setting;
        EXPECT_FALSE(ops.ReceiveThread.joinable());
        EXPECT_FALSE(ops.Registered);
        FakeDriver::Set("block_register", 0);
    }
}

TEST_F(CapiReceive, StartWhileRegisteredUsesTheRunningApplication)
{
    CCapiOperations ops(FakeDriver::Options());
    ASSERT_EQ(ops.Start(), 0);
    ASSERT_EQ(ops.Start(), 0);
    ASSERT_EQ(ops.Start(), 0);
    EXPECT_EQ(FakeDriver::Counter("register"), 1u);
    FakeDriver::Push(Ind::ConnectInd(3, 0x201));
    ASSERT_FALSE(FakeDriver::WaitForKey(0x8302).empty());
    EXPECT_TRUE(FakeDriver::Drain());
    // One loop reads: no message is answered twice.
    int answers = 0;
    for (uint16_t key : FakeDriver::SentKeys())
        answers += key == 0x8302;
    EXPECT_EQ(answers, 1);
}

TEST_F(CapiReceive, ReleaseWhileTheThreadWaitsEndsItWithoutOverlap)
{
    CCapiOperations ops(FakeDriver::Options());
    ASSERT_EQ(ops.Start(), 0);
    ASSERT_TRUE(FakeDriver::WaitCounter("wait", 2));
    ops.Stop();
    EXPECT_FALSE(ops.ReceiveThread.joinable());
    EXPECT_EQ(ops.ApplID, 0u);
    EXPECT_EQ(FakeDriver::Counter("release"), 1u);
    EXPECT_EQ(FakeDriver::Counter("overlap"), 0u);
    const unsigned waits = FakeDriver::Counter("wait");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(FakeDriver::Counter("wait"), waits);
    EXPECT_EQ(FakeDriver::Counter("get"), 0u);
}

TEST_F(CapiReceive, IdleLoopWaitsInSlicesWithoutSpinning)
{
    CCapiOperations ops(FakeDriver::Options());
    ASSERT_EQ(ops.Start(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // 50 ms slices: about ten waits. A timeval used twice would make thousands.
    EXPECT_LE(FakeDriver::Counter("wait"), 40u);
    EXPECT_EQ(FakeDriver::Counter("get"), 0u);
}

TEST_F(CapiReceive, ReadsOnlyAfterAWaitReportsAMessage)
{
    CCapiOperations ops(FakeDriver::Options());
    ASSERT_EQ(ops.Start(), 0);
    for (int i = 0; i < 20; ++i)
        FakeDriver::Push(Ind::InfoInd(static_cast<uint16_t>(10 + i), 0x101));
    ASSERT_TRUE(FakeDriver::Drain());
    EXPECT_EQ(FakeDriver::Counter("got"), 21u);
    EXPECT_EQ(FakeDriver::Counter("get_without_message"), 0u);
}

TEST_F(CapiReceive, LostLinkEndsTheLoopAndReleasesWithoutSpinning)
{
    CCapiOperations ops(FakeDriver::Options());
    ASSERT_EQ(ops.Start(), 0);
    FakeDriver::LoseLink();
    ASSERT_TRUE(FakeDriver::WaitCounter("release", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const unsigned gets = FakeDriver::Counter("get");
    EXPECT_LE(gets, static_cast<unsigned>(CCapiOperations::LOST_LINK_PASSES) + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(FakeDriver::Counter("get"), gets);
    EXPECT_FALSE(ops.Registered);
    EXPECT_EQ(FakeDriver::Counter("overlap"), 0u);
}

TEST_F(CapiReceive, ThreadThatDoesNotComeBackFromTheDriverIsLeftBehindSafely)
{
    CCapiOptions options = FakeDriver::Options();
    options.threadEndWaitMs = 300;
    auto ops = std::make_unique<CCapiOperations>(options);
    ASSERT_EQ(ops->Start(), 0);
    FakeDriver::Set("stall_wait", 1);
    ASSERT_TRUE(FakeDriver::WaitCounter("stalled", 1));
    ops.reset();  // returns after the bounded waits
    EXPECT_EQ(FakeDriver::Counter("release"), 0u);
    // Back from the driver, the thread touches nothing of the object but
    // releases the application it still had.
    FakeDriver::Set("stall_wait", 0);
    ASSERT_TRUE(FakeDriver::WaitCounter("release", 1));
    EXPECT_EQ(fake_is_registered(1), 0);
    EXPECT_EQ(FakeDriver::Counter("overlap"), 0u);
}

}  // namespace
