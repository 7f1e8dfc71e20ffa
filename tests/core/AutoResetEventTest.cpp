#include "platform/CAutoResetEvent.h"

#include <gtest/gtest.h>

#include <thread>

TEST(AutoResetEvent, SetIsConsumedByOneWait)
{
    CAutoResetEvent ev;
    EXPECT_FALSE(ev.Wait(0));
    ev.Set();
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(10));
    CAutoResetEvent initially(true);
    EXPECT_TRUE(initially.Wait(0));
}

TEST(AutoResetEvent, WaitForTwoTakesTheFirstWhenBothAreSet)
{
    CAutoResetEvent a, b;
    a.Set();
    b.Set();
    EXPECT_EQ(CAutoResetEvent::WaitForTwo(a, b, 0), CAutoResetEvent::WAIT_FIRST);
    EXPECT_EQ(CAutoResetEvent::WaitForTwo(a, b, 0), CAutoResetEvent::WAIT_SECOND);
    EXPECT_EQ(CAutoResetEvent::WaitForTwo(a, b, 10), CAutoResetEvent::WAIT_TIMEOUT);
}

TEST(AutoResetEvent, SetFromAnotherThreadWakesAnEndlessWait)
{
    CAutoResetEvent a, b;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        b.Set();
    });
    EXPECT_EQ(CAutoResetEvent::WaitForTwo(a, b, -1), CAutoResetEvent::WAIT_SECOND);
    setter.join();
    b.Reset();
    EXPECT_FALSE(b.Wait(0));
}
