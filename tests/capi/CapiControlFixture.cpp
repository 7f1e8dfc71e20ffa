#include "CapiControlFixture.h"

#include "TestMessage.h"

void CapiControlFixture::SetUp()
{
    FakeDriver::Reset();
    m_provider = std::make_unique<CCapiProvider>(FakeDriver::Options());
    m_relay = std::make_unique<CServiceRelay>(&m_app, *m_provider);
    m_control = std::make_unique<CCapiControl>(m_relay.get(), FakeDriver::Options());
    ASSERT_EQ(m_control->Start(), 0);
}

void CapiControlFixture::TearDown()
{
    m_control.reset();
    m_relay.reset();
    EXPECT_EQ(FakeDriver::Counter("overlap"), 0u);
    EXPECT_EQ(FakeDriver::Counter("bad_data_resp"), 0u);
    EXPECT_EQ(FakeDriver::Counter("get_without_message"), 0u);
}

void CapiControlFixture::BringUp()
{
    ASSERT_TRUE(m_control->Connect("123", "45"));
    const std::vector<uint8_t> request = FakeDriver::WaitForKey(0x8002);
    ASSERT_FALSE(request.empty());
    FakeDriver::Push(Ind::ConnectConf(WordAt(request, 6), PLCI, 0));
    FakeDriver::Push(Ind::ConnectActiveInd(0x41, PLCI));
    const std::vector<uint8_t> b3 = FakeDriver::WaitForKey(0x8082);
    ASSERT_FALSE(b3.empty());
    FakeDriver::Push(Ind::ConnectB3Conf(WordAt(b3, 6), NCCI, 0));
    FakeDriver::Push(Ind::ConnectB3ActiveInd(0x42, NCCI));
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_CONNECTED));
    ASSERT_EQ(m_control->State, CCapiControl::CALL_B3_ACTIVE);
}

std::vector<uint16_t> CapiControlFixture::KeysSince(int from) const
{
    std::vector<uint16_t> keys;
    for (uint16_t key : FakeDriver::SentKeys(from))
        if (key != 0x8308)
            keys.push_back(key);
    return keys;
}
