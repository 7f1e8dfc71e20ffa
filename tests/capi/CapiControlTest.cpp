// The connection controller: the call's state table, the reports to the
// relay, the hang-up with its pause, the delivery of the device's blocks, and
// the mended faults around refused, foreign and lost calls.
#include "CapiControlFixture.h"
#include "FakeCapiControl.h"
#include "TestMessage.h"

#include <ostream>

#include "capi/CapiConstants.h"

#include <functional>
#include <string>

namespace {

using CapiControl = CapiControlFixture;

TEST_F(CapiControl, CallComesUpWithReportsTwoFiveThree)
{
    std::vector<int> states;
    std::vector<uint16_t> infos;
    m_app.m_onDeliver = [&](const uint8_t*, int) {
        states.push_back(m_relay->m_nState);
        infos.push_back(m_relay->m_wLastInfo);
    };
    BringUp();
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 5, 3}));
    EXPECT_EQ(states, (std::vector<int>{2, 5, 3}));
    EXPECT_EQ(infos, (std::vector<uint16_t>{0, 0, 0}));
    EXPECT_EQ(m_control->ConnectionId, NCCI);
    EXPECT_EQ(KeysSince(0), (std::vector<uint16_t>{0x8002, 0x8303, 0x8082, 0x8383}));
    EXPECT_EQ(WordAt(FakeDriver::Sent(1), 6), 0x41);        // CONNECT_ACTIVE_RESP: the indication's number
    EXPECT_EQ(DwordAt(FakeDriver::Sent(2), 8), PLCI);       // CONNECT_B3_REQ
    EXPECT_EQ(DwordAt(FakeDriver::Sent(3), 8), NCCI);       // CONNECT_B3_ACTIVE_RESP
}

struct Row {
    const char* name;
    int from;                                      // State before
    uint32_t id;                                   // ConnectionId before
    std::function<void(CCapiControl&)> stimulus;
    int to;                                        // State after
    uint32_t toId;                                 // ConnectionId after
    std::vector<int> reports;
    int info;                                      // info of the last report, -1 when none
    std::vector<uint16_t> sent;                    // keys the driver was given
    bool ends = false;                             // the call ends and its application is released
};

void PrintTo(const Row& c, std::ostream* os) { *os << c.name; }

class CapiControlStates : public CapiControlFixture, public ::testing::WithParamInterface<Row> {};

TEST_P(CapiControlStates, Row)
{
    const Row& row = GetParam();
    m_control->State = row.from;
    m_control->ConnectionId = row.id;
    row.stimulus(*m_control);
    if (row.ends) {
        // No receive thread is left to answer a marker.
        ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
        ASSERT_TRUE(FakeDriver::WaitCounter("release", 1));
        EXPECT_FALSE(m_control->Registered);
    } else {
        ASSERT_TRUE(FakeDriver::Drain());
    }
    EXPECT_EQ(m_control->State, row.to);
    EXPECT_EQ(m_control->ConnectionId, row.toId);
    EXPECT_EQ(m_app.Reports(), row.reports);
    if (row.info >= 0) {
        EXPECT_EQ(m_app.LastReportInfo(), row.info);
        EXPECT_EQ(m_relay->m_wLastInfo, row.info);
    }
    EXPECT_EQ(KeysSince(0), row.sent);
}

void Push(const std::vector<uint8_t>& m) { FakeDriver::Push(m); }

using C = CCapiControl;

INSTANTIATE_TEST_SUITE_P(
    Table, CapiControlStates,
    ::testing::Values(
        Row{"IdleConnect", C::CALL_IDLE, 1, [](C& c) { EXPECT_TRUE(c.Connect("1", nullptr)); }, C::CALL_CONNECT_SENT, 1, {2}, 0, {0x8002}},
        Row{"BusyConnect", C::CALL_CONNECT_CONFIRMED, 0x201, [](C& c) { EXPECT_FALSE(c.Connect("1", nullptr)); },
            C::CALL_CONNECT_CONFIRMED, 0x201, {1}, 0, {}},
        Row{"ConnectConf", C::CALL_CONNECT_SENT, 1, [](C&) { Push(Ind::ConnectConf(2, 0x201, 0)); }, C::CALL_CONNECT_CONFIRMED, 0x201, {}, -1, {}},
        Row{"RefusedConnectConf", C::CALL_CONNECT_SENT, 1, [](C&) { Push(Ind::ConnectConf(2, 0x201, 0x3302)); }, C::CALL_IDLE, 1, {1}, 0x3302, {}},
        Row{"ConnectActiveInd", C::CALL_CONNECT_CONFIRMED, 0x201, [](C&) { Push(Ind::ConnectActiveInd(9, 0x201)); },
            C::CALL_CONNECT_B3_SENT, 0x201, {5}, 0, {0x8303, 0x8082}},
        Row{"ConnectB3Conf", C::CALL_CONNECT_B3_SENT, 0x201, [](C&) { Push(Ind::ConnectB3Conf(3, 0x10201, 0)); },
            C::CALL_CONNECT_B3_CONFIRMED, 0x201, {}, -1, {}},
        Row{"RefusedConnectB3Conf", C::CALL_CONNECT_B3_SENT, 0x201, [](C&) { Push(Ind::ConnectB3Conf(3, 0x10201, 0x2001)); },
            C::CALL_DISCONNECT_SENT, 0x201, {}, -1, {0x8004}},
        Row{"ConnectB3ActiveInd", C::CALL_CONNECT_B3_CONFIRMED, 0x201, [](C&) { Push(Ind::ConnectB3ActiveInd(9, 0x10201)); },
            C::CALL_B3_ACTIVE, 0x10201, {3}, 0, {0x8383}},
        Row{"DisconnectInd", C::CALL_B3_ACTIVE, 0x10201, [](C&) { Push(Ind::DisconnectInd(9, 0x201, 0x3491)); }, C::CALL_IDLE, 1, {1}, 0x3491,
            {0x8304}, true},
        Row{"IdleDisconnect", C::CALL_IDLE, 1, [](C& c) { c.Disconnect(); }, C::CALL_IDLE, 1, {}, -1, {}},
        Row{"RepeatedDisconnect", C::CALL_DISCONNECT_SENT, 0x201, [](C& c) { c.Disconnect(); }, C::CALL_DISCONNECT_SENT, 0x201, {}, -1, {}},
        Row{"ConfirmedDisconnect", C::CALL_CONNECT_CONFIRMED, 0x201, [](C& c) { c.Disconnect(); }, C::CALL_DISCONNECT_SENT, 0x201, {6}, 0,
            {0x8004}},
        Row{"TransitionDisconnect", C::CALL_TRANSITION, 0x201, [](C& c) { c.Disconnect(); }, C::CALL_DISCONNECT_SENT, 0x201, {6}, 0, {0x8004}},
        Row{"B3ActiveDisconnect", C::CALL_B3_ACTIVE, 0x10201, [](C& c) { c.Disconnect(); }, C::CALL_DISCONNECT_SENT, 0x201, {6}, 0,
            {0x8084, 0x8004}},
        Row{"DialledDisconnect", C::CALL_CONNECT_SENT, 1, [](C& c) { c.Disconnect(); }, C::CALL_DISCONNECT_SENT, 1, {6}, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CapiControl, DisconnectSendsDisconnectReqForThePlciAfterThePause)
{
    BringUp();
    const int from = FakeDriver::SentCount();
    EXPECT_TRUE(m_control->Disconnect());
    EXPECT_EQ(KeysSince(from), (std::vector<uint16_t>{0x8084, 0x8004}));
    EXPECT_EQ(DwordAt(FakeDriver::Sent(from), 8), NCCI);
    EXPECT_EQ(DwordAt(FakeDriver::Sent(from + 1), 8), PLCI);
    EXPECT_EQ(m_control->State, CCapiControl::CALL_DISCONNECT_SENT);
    FakeDriver::Push(Ind::DisconnectInd(0x50, PLCI, 0x3400));
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 5, 3, 6, 1}));
    EXPECT_EQ(m_control->State, CCapiControl::CALL_IDLE);
    EXPECT_FALSE(m_control->Registered);
    EXPECT_EQ(FakeDriver::Counter("release"), 1u);
}

TEST_F(CapiControl, DisconnectIndInsideThePauseSuppressesDisconnectReq)
{
    BringUp();
    FakeDriver::ReplyOnPut(0x8084, Ind::DisconnectInd(0x50, PLCI, 0x3490));
    const int from = FakeDriver::SentCount();
    EXPECT_TRUE(m_control->Disconnect());
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    EXPECT_EQ(KeysSince(from), (std::vector<uint16_t>{0x8084, 0x8304}));
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 5, 3, 6, 1}));
    EXPECT_EQ(m_relay->m_wLastInfo, 0x3490);
    EXPECT_EQ(m_control->State, CCapiControl::CALL_IDLE);
    EXPECT_EQ(m_control->ConnectionId, CCapiControl::NO_CONNECTION);
}

TEST_F(CapiControl, HangUpBeforeConnectConfClearsTheCallOnceItsPlciIsKnown)
{
    ASSERT_TRUE(m_control->Connect("123", nullptr));
    const uint16_t number = WordAt(FakeDriver::WaitForKey(0x8002), 6);
    EXPECT_TRUE(m_control->Disconnect());
    EXPECT_EQ(KeysSince(0), (std::vector<uint16_t>{0x8002}));  // nothing for the non-PLCI 1
    FakeDriver::Push(Ind::ConnectConf(number, 0x301, 0));
    int index = 0;
    const std::vector<uint8_t> clear = FakeDriver::WaitForKey(0x8004, 0, &index);
    ASSERT_FALSE(clear.empty());
    EXPECT_EQ(DwordAt(clear, 8), 0x301u);
    // The call does not come up all the same.
    FakeDriver::Push(Ind::ConnectActiveInd(0x60, 0x301));
    ASSERT_TRUE(FakeDriver::Drain());
    EXPECT_EQ(KeysSince(index + 1), (std::vector<uint16_t>{0x8303}));
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 6}));
    FakeDriver::Push(Ind::DisconnectInd(0x61, 0x301, 0x3490));
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    EXPECT_EQ(m_control->State, CCapiControl::CALL_IDLE);
}

TEST_F(CapiControl, HangUpBeforeARefusedConnectConfEndsReady)
{
    ASSERT_TRUE(m_control->Connect("123", nullptr));
    const uint16_t number = WordAt(FakeDriver::WaitForKey(0x8002), 6);
    m_control->Disconnect();
    FakeDriver::Push(Ind::ConnectConf(number, 0, 0x3303));
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 6, 1}));
    EXPECT_EQ(m_relay->m_wLastInfo, 0x3303);
    EXPECT_EQ(m_control->State, CCapiControl::CALL_IDLE);
    EXPECT_EQ(KeysSince(0), (std::vector<uint16_t>{0x8002}));
}

TEST_F(CapiControl, DialAfterARefusedConnectConfUsesTheSameRegistration)
{
    ASSERT_TRUE(m_control->Connect("123", nullptr));
    FakeDriver::Push(Ind::ConnectConf(WordAt(FakeDriver::WaitForKey(0x8002), 6), 0, 0x2003));
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    std::string text;
    m_relay->GetStatusText(text);
    EXPECT_EQ(text, "Capi: 0x2003");
    ASSERT_EQ(m_control->Start(), 0);
    EXPECT_TRUE(m_control->Connect("123", nullptr));
    EXPECT_EQ(FakeDriver::Counter("register"), 1u);
    EXPECT_EQ(KeysSince(0), (std::vector<uint16_t>{0x8002, 0x8002}));
}

TEST_F(CapiControl, DialWhileACallExistsKeepsTheCallAndItsRegistration)
{
    BringUp();
    ASSERT_EQ(m_control->Start(), 0);
    EXPECT_FALSE(m_control->Connect("999", nullptr));
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 5, 3, 1}));
    EXPECT_EQ(m_app.LastReportInfo(), 0);
    EXPECT_EQ(m_control->State, CCapiControl::CALL_B3_ACTIVE);
    EXPECT_EQ(FakeDriver::Counter("register"), 1u);
}

TEST_F(CapiControl, DisconnectIndForAnotherPlciLeavesTheCallAlone)
{
    BringUp();
    const int from = FakeDriver::SentCount();
    FakeDriver::Push(Ind::ConnectInd(0x70, 0x0201));
    FakeDriver::Push(Ind::DisconnectInd(0x71, 0x0201, 0x34A9));
    ASSERT_TRUE(FakeDriver::Drain());
    EXPECT_EQ(KeysSince(from), (std::vector<uint16_t>{0x8302, 0x8304}));
    EXPECT_EQ(DwordAt(FakeDriver::Sent(from + 1), 8), 0x0201u);
    EXPECT_EQ(m_control->State, CCapiControl::CALL_B3_ACTIVE);
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 5, 3}));
    EXPECT_TRUE(m_control->Registered);
    EXPECT_EQ(FakeDriver::Counter("release"), 0u);
}

TEST_F(CapiControl, ConnectReqTheDriverRefusesIsReported)
{
    FakeDriver::Set("put_result", 0x1103);
    EXPECT_FALSE(m_control->Connect("123", nullptr));
    EXPECT_EQ(m_control->State, CCapiControl::CALL_IDLE);
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{1}));
    EXPECT_EQ(m_relay->m_wLastInfo, 0x1103);
}

TEST_F(CapiControl, NumberTooLongForAMessageIsRefusedAndReported)
{
    const std::string number(200, '1');
    EXPECT_FALSE(m_control->Connect(number.c_str(), nullptr));
    EXPECT_EQ(FakeDriver::SentCount(), 0);
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{1}));
    EXPECT_EQ(m_relay->m_wLastInfo, Capi::INFO_ILLEGAL_PARAMETER);
}

TEST_F(CapiControl, LostLinkEndsTheCallAsIfTheNetworkHadCleared)
{
    BringUp();
    FakeDriver::LoseLink();
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 5, 3, 1}));
    EXPECT_EQ(m_relay->m_wLastInfo, Capi::INFO_QUEUE_EMPTY);
    EXPECT_EQ(m_control->State, CCapiControl::CALL_IDLE);
    EXPECT_EQ(m_control->ConnectionId, CCapiControl::NO_CONNECTION);
    EXPECT_FALSE(m_control->Registered);
    EXPECT_TRUE(FakeDriver::WaitCounter("release", 1));
    // The loop has ended: no more reads.
    const unsigned gets = FakeDriver::Counter("get");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(FakeDriver::Counter("get"), gets);
}

struct DataCase {
    const char* name;
    std::vector<uint8_t> block;
    bool window;
    bool delivered;
};

void PrintTo(const DataCase& c, std::ostream* os) { *os << c.name; }

class CapiControlData : public CapiControlFixture, public ::testing::WithParamInterface<DataCase> {};

TEST_P(CapiControlData, IndicationIsDeliveredOrNotAndAnsweredAfterwards)
{
    m_app.m_hasWindow = GetParam().window;
    int answersAtDelivery = -1;
    m_app.m_onDeliver = [&](const uint8_t*, int) {
        answersAtDelivery = 0;
        for (uint16_t key : FakeDriver::SentKeys())
            answersAtDelivery += key == 0x8386;
    };
    m_control->State = CCapiControl::CALL_B3_ACTIVE;
    m_control->ConnectionId = NCCI;
    FakeDriver::Push(Ind::DataB3Ind(0x20, NCCI, 0x0BAD, GetParam().block));
    ASSERT_TRUE(FakeDriver::Drain());
    const auto blocks = m_app.Blocks();
    if (GetParam().delivered) {
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0], GetParam().block);
        EXPECT_EQ(answersAtDelivery, 0);
    } else {
        EXPECT_TRUE(blocks.empty());
    }
    const std::vector<uint8_t> answer = FakeDriver::WaitForKey(0x8386);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(DwordAt(answer, 8), NCCI);
    EXPECT_EQ(WordAt(answer, 12), 0x0BAD);
}

INSTANTIATE_TEST_SUITE_P(Blocks, CapiControlData,
                         ::testing::Values(DataCase{"Data", {0x00, 'a', 'b'}, true, true},
                                           DataCase{"Control", {0x01}, true, true},
                                           DataCase{"EventTag", {0x80, 1, 0, 0}, true, false},
                                           DataCase{"OtherTag", {0x42, 'x'}, true, false},
                                           DataCase{"Empty", {}, true, false},
                                           DataCase{"NoMainWindow", {0x00, 'x'}, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CapiControl, EachDataIndicationIsAnsweredOnce)
{
    BringUp();
    std::vector<uint8_t> big(2048, 0x00);
    for (int i = 0; i < 30; ++i)
        FakeDriver::Push(Ind::DataB3Ind(static_cast<uint16_t>(0x100 + i), NCCI, static_cast<uint16_t>(i), i % 2 ? big : std::vector<uint8_t>{0x00, 1}));
    ASSERT_TRUE(FakeDriver::Drain());
    int answers = 0;
    for (uint16_t key : FakeDriver::SentKeys())
        answers += key == 0x8386;
    EXPECT_EQ(answers, 30);
    EXPECT_EQ(m_app.Blocks().size(), 3u + 30u);
}

}  // namespace
