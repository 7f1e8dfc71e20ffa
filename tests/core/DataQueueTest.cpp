#include "relay/CDataQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::unique_ptr<uint8_t[]> Block(uint8_t first, int length = 1)
{
    auto b = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
    b[0] = first;
    return b;
}
}

TEST(DataQueue, EmptyQueueTimesOutAtOnce)
{
    CDataQueue q;
    std::unique_ptr<uint8_t[]> data;
    EXPECT_EQ(q.Get(0, data), -1);
    EXPECT_EQ(q.Get(20, data), -1);
    EXPECT_FALSE(data);
}

TEST(DataQueue, BlocksComeOutOldestFirstWithoutCopying)
{
    CDataQueue q;
    auto first = Block(1, 3);
    auto second = Block(2, 5);
    const uint8_t* firstAddress = first.get();
    q.Put(std::move(first), 3);
    q.Put(std::move(second), 5);
    std::unique_ptr<uint8_t[]> data;
    ASSERT_EQ(q.Get(-1, data), 3);
    EXPECT_EQ(data.get(), firstAddress);  // handed over by pointer
    ASSERT_EQ(q.Get(-1, data), 5);
    EXPECT_EQ(data[0], 2);
    EXPECT_EQ(q.Get(0, data), -1);
}

TEST(DataQueue, NullOrEmptyBlockIsNotQueuedAndStaysWithCaller)
{
    CDataQueue q;
    auto block = Block(7);
    q.Put(std::move(block), 0);
    EXPECT_TRUE(block);  // not taken over
    std::unique_ptr<uint8_t[]> none;
    q.Put(std::move(none), 4);
    std::unique_ptr<uint8_t[]> data;
    EXPECT_EQ(q.Get(30, data), -1);
}

TEST(DataQueue, StopWakesAWaitingConsumerAndFreesBlocks)
{
    CDataQueue q;
    std::atomic<int> result{99};
    std::thread consumer([&] {
        std::unique_ptr<uint8_t[]> data;
        result = q.Get(-1, data);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.Stop();
    consumer.join();
    EXPECT_EQ(result, 0);
}

TEST(DataQueue, StopIsConsumedByOneGetAndDropsQueuedBlocks)
{
    CDataQueue q;
    q.Put(Block(1), 1);
    q.Stop();
    std::unique_ptr<uint8_t[]> data;
    EXPECT_EQ(q.Get(-1, data), 0);  // the queued block went with the stop
    EXPECT_EQ(q.Get(20, data), -1); // the stop signal is gone: this one waits again
}

TEST(DataQueue, BlockPutAfterStopComesFirstThenTheStop)
{
    CDataQueue q;
    q.Stop();
    q.Put(Block(9, 2), 2);
    std::unique_ptr<uint8_t[]> data;
    EXPECT_EQ(q.Get(-1, data), 2);
    EXPECT_EQ(data[0], 9);
    EXPECT_EQ(q.Get(-1, data), 0);
}

TEST(DataQueue, ConsumerOnAnotherThreadGetsEveryBlockInOrder)
{
    CDataQueue q;
    constexpr int kBlocks = 5000;
    std::atomic<bool> inOrder{true};
    std::atomic<int> taken{0};
    std::thread consumer([&] {
        for (;;) {
            std::unique_ptr<uint8_t[]> data;
            int r = q.Get(5000, data);
            if (r <= 0)
                return;
            int n = data[0] | (data[1] << 8);
            if (n != taken)
                inOrder = false;
            ++taken;
        }
    });
    for (int i = 0; i < kBlocks; ++i) {
        auto b = std::make_unique<uint8_t[]>(2);
        b[0] = static_cast<uint8_t>(i);
        b[1] = static_cast<uint8_t>(i >> 8);
        q.Put(std::move(b), 2);
    }
    for (int i = 0; i < 500 && taken < kBlocks; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    q.Stop();
    consumer.join();
    EXPECT_EQ(taken, kBlocks);
    EXPECT_TRUE(inOrder);
}
