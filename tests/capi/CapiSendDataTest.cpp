// The outgoing data path: SendData's limits, its wait for the confirmation,
// confirmations that come early, late, with an error or never, and the list
// of outstanding requests.
#include "CapiControlFixture.h"
#include "FakeCapiControl.h"
#include "TestMessage.h"

#include "capi/CDataB3ReqList.h"

#include <thread>

namespace {

std::unique_ptr<uint8_t[]> Block(int length, uint8_t first = 0x00)
{
    auto block = std::make_unique<uint8_t[]>(static_cast<size_t>(length > 0 ? length : 1));
    for (int i = 0; i < length; ++i)
        block[static_cast<size_t>(i)] = static_cast<uint8_t>(i == 0 ? first : i);
    return block;
}

class CapiSendData : public CapiControlFixture {
protected:
    void SetUp() override
    {
        CapiControlFixture::SetUp();
        BringUp();
        m_from = FakeDriver::SentCount();
    }
    int m_from = 0;
};

TEST_F(CapiSendData, BlockOfAtMost2048BytesIsSentWhole)
{
    FakeDriver::Set("auto_confirm", 1);
    for (int length : {1, 2047, 2048}) {
        auto block = Block(length);
        EXPECT_EQ(m_control->SendData(block, length), length);
        EXPECT_FALSE(block);  // taken by the controller
        int index = 0;
        const std::vector<uint8_t> request = FakeDriver::WaitForKey(0x8086, m_from, &index);
        ASSERT_FALSE(request.empty());
        EXPECT_EQ(WordAt(request, 16), length);
        EXPECT_EQ(DwordAt(request, 8), NCCI);
        const std::vector<uint8_t> data = FakeDriver::SentData(index);
        ASSERT_EQ(data.size(), static_cast<size_t>(length));
        EXPECT_EQ(data[static_cast<size_t>(length - 1)], static_cast<uint8_t>(length == 1 ? 0 : length - 1));
        m_from = index + 1;
    }
    EXPECT_EQ(m_control->Requests.GetCount(), 0u);
}

TEST_F(CapiSendData, RefusedBlocksStayWithTheCallerAndReachNoDriver)
{
    auto tooLong = Block(2049);
    EXPECT_EQ(m_control->SendData(tooLong, 2049), 0);
    EXPECT_TRUE(tooLong);
    std::unique_ptr<uint8_t[]> none;
    EXPECT_EQ(m_control->SendData(none, 10), 0);
    auto empty = Block(0);
    EXPECT_EQ(m_control->SendData(empty, 0), 0);
    EXPECT_TRUE(empty);
    for (int state : {CCapiControl::CALL_IDLE, CCapiControl::CALL_CONNECT_B3_CONFIRMED, CCapiControl::CALL_TRANSITION,
                      CCapiControl::CALL_DISCONNECT_SENT}) {
        m_control->State = state;
        auto block = Block(10);
        EXPECT_EQ(m_control->SendData(block, 10), 0) << state;
        EXPECT_TRUE(block);
    }
    EXPECT_EQ(FakeDriver::SentCount(), m_from);
}

TEST_F(CapiSendData, ConfirmationHandledBeforeTheRecordExistsStillMatches)
{
    // The driver's confirmation is read and handled before its put returns.
    FakeDriver::Set("auto_confirm", 2);
    auto block = Block(100);
    EXPECT_EQ(m_control->SendData(block, 100), 100);
    ASSERT_TRUE(FakeDriver::Drain());
    EXPECT_EQ(m_control->Requests.GetCount(), 0u);
}

TEST_F(CapiSendData, ConfirmationWithAnErrorReleasesTheBlockAndEndsTheWait)
{
    FakeDriver::Set("auto_confirm", 1);
    FakeDriver::Set("confirm_info", 0x3008);
    auto block = Block(100);
    EXPECT_EQ(m_control->SendData(block, 100), 100);
    EXPECT_EQ(m_control->Requests.GetCount(), 0u);
}

TEST_F(CapiSendData, RequestTheDriverDoesNotTakeIsDroppedAfterTheWait)
{
    FakeDriver::Set("put_result", 0x1103);
    auto block = Block(100);
    EXPECT_EQ(m_control->SendData(block, 100), 100);
    EXPECT_FALSE(block);
    EXPECT_EQ(m_control->Requests.GetCount(), 0u);
    EXPECT_EQ(FakeDriver::SentCount(), m_from);
}

TEST_F(CapiSendData, LateConfirmationStillReleasesItsBlock)
{
    auto block = Block(100);
    EXPECT_EQ(m_control->SendData(block, 100), 100);  // after the 2500 ms wait
    EXPECT_EQ(m_control->Requests.GetCount(), 1u);
    const std::vector<uint8_t> request = FakeDriver::WaitForKey(0x8086, m_from);
    FakeDriver::Push(Ind::DataB3Conf(WordAt(request, 6), NCCI, WordAt(request, 18), 0));
    ASSERT_TRUE(FakeDriver::Drain());
    EXPECT_EQ(m_control->Requests.GetCount(), 0u);
}

TEST_F(CapiSendData, ConfirmationThatNeverGetsARecordIsDroppedAfterTheBound)
{
    FakeDriver::Push(Ind::DataB3Conf(0x555, NCCI, 0x555, 0));
    ASSERT_TRUE(FakeDriver::Drain());  // the receive thread goes on after the bound
    FakeDriver::Set("auto_confirm", 1);
    auto block = Block(10);
    EXPECT_EQ(m_control->SendData(block, 10), 10);
    EXPECT_EQ(m_control->Requests.GetCount(), 0u);
}

TEST_F(CapiSendData, DestroyingWithRecordsLeftReleasesTheApplicationAndTheBlocks)
{
    auto block = Block(100);
    EXPECT_EQ(m_control->SendData(block, 100), 100);
    ASSERT_EQ(m_control->Requests.GetCount(), 1u);
    m_control.reset();
    EXPECT_EQ(FakeDriver::Counter("release"), 1u);
}

TEST(CapiDataB3ReqList, TakesTheOldestRecordWithTheNumber)
{
    CDataB3ReqList list;
    list.AddRequest(5, Block(1, 0xA1));
    list.AddRequest(6, Block(1, 0xB1));
    list.AddRequest(5, Block(1, 0xA2));
    EXPECT_EQ(list.TakeRequest(5)[0], 0xA1);
    EXPECT_EQ(list.TakeRequest(5)[0], 0xA2);
    EXPECT_FALSE(list.TakeRequest(5));
    EXPECT_EQ(list.GetCount(), 1u);
    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0u);
}

TEST(CapiDataB3ReqList, WaitingTakeSeesARecordAddedMeanwhileAndGivesUpAfterItsBound)
{
    CDataB3ReqList list;
    std::thread adder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        list.AddRequest(9, Block(1, 0xC1));
    });
    auto taken = list.TakeRequest(9, 5000);
    adder.join();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken[0], 0xC1);
    EXPECT_FALSE(list.TakeRequest(9, 50));
}

}  // namespace
