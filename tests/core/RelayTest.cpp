#include "RelayFakes.h"
#include "TestClient.h"
#include "TestSupport.h"

#include "http/CClientSocket.h"
#include "http/COfflineResponder.h"
#include "http/CServSocket.h"
#include "platform/CSocketApi.h"
#include "relay/CServiceRelay.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>

namespace {
const std::string kForbidden =
    "HTTP/1.1 403 FORBIDDEN\r\nContent-type: text/html\r\nContent-length: 48\r\n\r\n"
    "<HTML><BODY>ERROR: 403 FORBIDDEN\r\n</BODY></HTML>";
const std::string kNotFound =
    "HTTP/1.1 404 NOT FOUND\r\nContent-type: text/html\r\nContent-length: 48\r\n\r\n"
    "<HTML><BODY>ERROR: 404 NOT FOUND\r\n</BODY></HTML>";

// Splits an answer into its header and body, and checks Content-length against the body.
bool SplitAnswer(const std::string& answer, std::string& head, std::string& body)
{
    size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos)
        return false;
    head = answer.substr(0, end + 4);
    body = answer.substr(end + 4);
    size_t at = head.find("Content-length: ");
    return at != std::string::npos && std::stoul(head.substr(at + 16)) == body.size();
}
}

class RelayTest : public ::testing::Test {
protected:
    void Make(int idleTimeoutMs = CServiceRelay::IDLE_TIMEOUT_MS)
    {
        relay = std::make_unique<CServiceRelay>(&app, provider, idleTimeoutMs);
    }
    void TearDown() override { relay.reset(); }

    // Puts the hub into tunnel mode with a controller, as a completed dial would.
    void EnterTunnel()
    {
        relay->Dial("123", nullptr);
        relay->m_nMode = CServiceRelay::MODE_TUNNEL;
    }
    std::vector<std::vector<uint8_t>> Sent()
    {
        std::lock_guard<std::mutex> guard(provider.log.lock);
        return provider.log.sent;
    }
    size_t SentCount() { return Sent().size(); }
    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> guard(provider.log.lock);
        return provider.log.calls;
    }
    size_t DisconnectCount()
    {
        size_t n = 0;
        for (const std::string& c : Calls())
            n += c == "Disconnect";
        return n;
    }

    FakeApp app;
    FakeProvider provider;
    std::unique_ptr<CServiceRelay> relay;
};

TEST_F(RelayTest, StartsWithoutDriverInErrorStateAndShowsTheStatusPage)
{
    Make();
    EXPECT_EQ(relay->m_nState, CServiceRelay::STATE_NO_CAPI);
    EXPECT_EQ(relay->m_nMode, CServiceRelay::MODE_OFFLINE);
    std::string text;
    EXPECT_EQ(relay->GetStatusText(text), 0);
    EXPECT_EQ(text, "Fehler");
    ASSERT_NE(relay->GetListenPort(), 0u);
    ASSERT_EQ(app.view.urls.size(), 1u);
    EXPECT_EQ(app.view.urls[0], "http:\\\\localhost:" + std::to_string(relay->GetListenPort()) + "/HttpStatus.html");
    relay->Disconnect();
    EXPECT_EQ(provider.created, 0);
}

TEST_F(RelayTest, StartsReadyWhenTheDriverAnswers)
{
    provider.driver = true;
    Make();
    EXPECT_EQ(relay->m_nState, CServiceRelay::STATE_READY);
}

TEST_F(RelayTest, StatusTexts)
{
    Make();
    relay->m_strNumber = "0123";
    struct Case {
        int state;
        uint16_t info;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "Fehler"},
        {1, 0, "Bereit"},
        {1, 0x3490, "Capi: 0x3490"},
        {1, 0xBEEF, "Capi: 0xbeef"},
        {2, 0, "W\xC3\xA4hle ...  0123"},
        {3, 0, "Verbunden  0123"},
        {4, 0, "Verbindung fehlgeschlagen  0123"},
        {5, 0, "Verbinde ...  0123"},
        {6, 0x3491, "Verbindungstrennung  0123"},
        {7, 0, "Default"},
        {-1, 0, "Default"},
    };
    for (const Case& c : cases) {
        relay->m_nState = c.state;
        relay->m_wLastInfo = c.info;
        std::string text;
        EXPECT_EQ(relay->GetStatusText(text), c.state);
        EXPECT_EQ(text, c.text) << "state " << c.state;
    }
}

TEST_F(RelayTest, DialStartsAndConnectsEveryTimeAndKeepsOneController)
{
    Make();
    relay->m_wLastInfo = 0x3491;
    EXPECT_TRUE(relay->Dial("123", nullptr));
    EXPECT_EQ(relay->m_strNumber, "123");
    EXPECT_EQ(relay->m_strOwnNumber, "");
    EXPECT_EQ(relay->m_wLastInfo, 0);
    EXPECT_TRUE(relay->Dial("456", "78"));
    EXPECT_EQ(provider.created, 1);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Start", "Connect 123 <null>", "Start", "Connect 456 78"}));
}

TEST_F(RelayTest, DialInTunnelModeIsRefusedAndChangesNothing)
{
    Make();
    relay->Dial("123", nullptr);
    relay->m_nMode = CServiceRelay::MODE_TUNNEL;
    const size_t before = Calls().size();
    EXPECT_FALSE(relay->Dial("999", "1"));
    EXPECT_EQ(relay->m_strNumber, "123");
    EXPECT_EQ(Calls().size(), before);
}

TEST_F(RelayTest, DisconnectReachesTheControllerOnlyWhileACallIsMadeOrUp)
{
    Make();
    relay->Dial("123", nullptr);
    for (int state = 0; state <= 7; ++state) {
        relay->m_nState = state;
        const size_t before = DisconnectCount();
        relay->Disconnect();
        const bool expected = state >= 2 && state <= 5;
        EXPECT_EQ(DisconnectCount() - before, expected ? 1u : 0u) << "state " << state;
    }
}

TEST_F(RelayTest, OfflineGetOfAnyPathGetsTheStatusPage)
{
    Make();
    for (const char* path : {"/", "/favicon.ico", "/HttpStatus.html"}) {
        TestClient client(relay->GetListenPort());
        client.Send(std::string("GET ") + path + " HTTP/1.1\r\nHost: elsewhere\r\n\r\n");
        std::string answer, head, body;
        ASSERT_TRUE(client.ReadUntilClosed(answer)) << path;
        ASSERT_TRUE(SplitAnswer(answer, head, body)) << answer;
        EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\nContent-type: text/html\r\nContent-length: ", 0), 0u);
        EXPECT_NE(body.find("ISDN Status: Fehler"), std::string::npos) << body;
    }
    EXPECT_EQ(relay->m_pClientSocket, nullptr);
}

TEST_F(RelayTest, OfflineOtherMethodsGetTheForbiddenAnswer)
{
    Make();
    for (const char* request : {"POST / HTTP/1.1\r\n\r\n", "get / HTTP/1.1\r\n\r\n", "HEAD / HTTP/1.1\r\n\r\n", "X y"}) {
        TestClient client(relay->GetListenPort());
        client.Send(request);
        std::string answer;
        ASSERT_TRUE(client.ReadUntilClosed(answer));
        EXPECT_EQ(answer, kForbidden) << request;
        EXPECT_EQ(answer.size(), 119u);
    }
}

TEST_F(RelayTest, OfflineGetWithoutTemplateGetsNotFound)
{
    Make();
    relay->m_pResponder = std::make_unique<COfflineResponder>(relay.get(), "no-such-template.html");
    TestClient client(relay->GetListenPort());
    client.Send("GET / HTTP/1.1\r\n\r\n");
    std::string answer;
    ASSERT_TRUE(client.ReadUntilClosed(answer));
    EXPECT_EQ(answer, kNotFound);
}

TEST_F(RelayTest, BytesWithoutMethodTokenGetNoAnswerAndTheConnectionStays)
{
    Make();
    TestClient client(relay->GetListenPort());
    client.Send("GET");  // no space yet
    EXPECT_EQ(client.ReadFor(300), "");
    client.Send(" / HTTP/1.1\r\n\r\n");  // begins with a space: empty token
    EXPECT_EQ(client.ReadFor(300), "");
    client.Send(std::string("GE\0T / x", 8));  // NUL before the space
    EXPECT_EQ(client.ReadFor(300), "");
    ASSERT_NE(relay->m_pClientSocket, nullptr);
    client.Send("POST / HTTP/1.1\r\n\r\n");  // the next read is a new request
    std::string answer;
    ASSERT_TRUE(client.ReadUntilClosed(answer));
    EXPECT_EQ(answer, kForbidden);
}

TEST_F(RelayTest, OfflineWaitingConnectionEntersServiceOnlyAtTheNextAccept)
{
    Make();
    TestClient first(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pClientSocket != nullptr; }));
    TestClient second(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pServSocket->m_pending.size() == 1; }));
    second.Send("POST / HTTP/1.1\r\n\r\n");
    first.Send("POST / HTTP/1.1\r\n\r\n");
    std::string answer;
    ASSERT_TRUE(first.ReadUntilClosed(answer));
    // The answer ended the first connection; the second still waits unread.
    EXPECT_EQ(second.ReadFor(300), "");
    EXPECT_EQ(relay->m_pServSocket->m_pending.size(), 1u);
    TestClient third(relay->GetListenPort());
    std::string secondAnswer;
    ASSERT_TRUE(second.ReadUntilClosed(secondAnswer));
    EXPECT_EQ(secondAnswer, kForbidden);
    EXPECT_EQ(relay->m_pServSocket->m_pending.size(), 1u);  // the third waits now
}

TEST_F(RelayTest, AcceptWithoutConnectionStillActivatesTheNextWaitingOne)
{
    Make();
    TestClient first(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pClientSocket != nullptr; }));
    TestClient second(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pServSocket->m_pending.size() == 1; }));
    second.Send("POST / HTTP/1.1\r\n\r\n");
    first.Send("POST / HTTP/1.1\r\n\r\n");
    std::string answer;
    ASSERT_TRUE(first.ReadUntilClosed(answer));
    relay->m_pServSocket->OnAccept(0);  // nothing to accept: the accept fails
    std::string secondAnswer;
    ASSERT_TRUE(second.ReadUntilClosed(secondAnswer));
    EXPECT_EQ(secondAnswer, kForbidden);
}

TEST_F(RelayTest, OfflineCloseOfTheBrowserEndsTheConnectionInService)
{
    Make();
    TestClient client(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pClientSocket != nullptr; }));
    client.ShutdownSending();
    EXPECT_TRUE(WaitUntil([&] { return relay->m_pClientSocket == nullptr; }));
    EXPECT_TRUE(client.ClosedWithin(5000));
}

TEST_F(RelayTest, CloseOfAWaitingConnectionIsIgnored)
{
    Make();
    TestClient first(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pClientSocket != nullptr; }));
    {
        TestClient second(relay->GetListenPort());
        ASSERT_TRUE(WaitUntil([&] { return relay->m_pServSocket->m_pending.size() == 1; }));
    }
    Spin(200);
    EXPECT_EQ(relay->m_pServSocket->m_pending.size(), 1u);
    EXPECT_NE(relay->m_pClientSocket, nullptr);
}

TEST_F(RelayTest, TunnelModeFramesEachConnectionForTheDevice)
{
    Make();
    EnterTunnel();
    TestClient client(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 1; }));
    client.Send("abc");
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 2; }));
    client.ShutdownSending();
    // The half-close reads as 0 bytes, then the close itself is reported.
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 4; }));
    const auto sent = Sent();
    EXPECT_EQ(sent[0], (std::vector<uint8_t>{0x01}));
    EXPECT_EQ(sent[1], (std::vector<uint8_t>{0x00, 'a', 'b', 'c'}));
    EXPECT_EQ(sent[2], (std::vector<uint8_t>{0x00}));
    EXPECT_EQ(sent[3], (std::vector<uint8_t>{0x00}));
    // The connection stays in service until the device ends it.
    EXPECT_NE(relay->m_pClientSocket, nullptr);
}

TEST_F(RelayTest, TunnelModeReadsAtMost2047BytesPerBlock)
{
    Make();
    EnterTunnel();
    TestClient client(relay->GetListenPort());
    std::string payload;
    for (int i = 0; i < 10000; ++i)
        payload += static_cast<char>('A' + i % 26);
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 1; }));
    client.Send(payload);
    std::string carried;
    ASSERT_TRUE(WaitUntil([&] {
        carried.clear();
        for (const auto& block : Sent())
            if (block[0] == 0x00)
                carried.append(block.begin() + 1, block.end());
        return carried.size() >= payload.size();
    }));
    EXPECT_EQ(carried, payload);
    size_t largest = 0;
    for (const auto& block : Sent())
        largest = std::max(largest, block.size());
    EXPECT_EQ(largest, 2048u);
}

TEST_F(RelayTest, TunnelSecondConnectionIsAnnouncedAfterTheDeviceEndsTheFirst)
{
    Make();
    EnterTunnel();
    TestClient first(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 1; }));
    TestClient second(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pServSocket->m_pending.size() == 1; }));
    second.Send("req2");
    Spin(200);
    EXPECT_EQ(SentCount(), 1u);
    // The device's control block: close the one in service, take the next.
    relay->CloseGracefully(std::move(relay->m_pClientSocket));
    relay->ActivateNextConnection();
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 3; }));
    const auto sent = Sent();
    EXPECT_EQ(sent[1], (std::vector<uint8_t>{0x01}));
    EXPECT_EQ(sent[2], (std::vector<uint8_t>{0x00, 'r', 'e', 'q', '2'}));
    EXPECT_TRUE(first.ClosedWithin(5000));
}

TEST_F(RelayTest, PumpAsksToHangUpAfterSilenceInTunnelModeOnly)
{
    Make(150);
    relay->Dial("123", nullptr);
    // Offline: a block is dropped and no time-out is armed.
    relay->m_toDevice.Put(std::make_unique<uint8_t[]>(1), 1);
    Spin(600);
    EXPECT_EQ(DisconnectCount(), 0u);
    EXPECT_EQ(SentCount(), 0u);
    relay->m_nMode = CServiceRelay::MODE_TUNNEL;
    relay->m_toDevice.Put(std::make_unique<uint8_t[]>(1), 1);
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 1; }));
    // Silence: one request, then another for every further stretch of silence.
    EXPECT_TRUE(WaitUntil([&] { return DisconnectCount() >= 2; }));
    relay->m_nMode = CServiceRelay::MODE_OFFLINE;
    relay->m_toDevice.Put(std::make_unique<uint8_t[]>(1), 1);  // wakes the pump outside tunnel mode: disarmed
    Spin(100);
    const size_t settled = DisconnectCount();
    Spin(600);
    EXPECT_EQ(DisconnectCount(), settled);
}

TEST_F(RelayTest, RefusedBlocksAreDroppedByThePump)
{
    Make();
    EnterTunnel();
    provider.log.refuse = true;
    relay->m_toDevice.Put(std::make_unique<uint8_t[]>(1), 1);
    Spin(200);
    EXPECT_EQ(SentCount(), 0u);
}

TEST_F(RelayTest, DestructionWaitsForThePumpToLeaveTheController)
{
    Make();
    EnterTunnel();
    provider.log.sendDelayMs = 400;
    relay->m_toDevice.Put(std::make_unique<uint8_t[]>(1), 1);
    ASSERT_TRUE(WaitUntil([&] { return provider.log.inSend.load(); }));
    relay.reset();
    EXPECT_FALSE(provider.log.destroyedDuringSend);
}

TEST_F(RelayTest, IdleEndpointWithOpenConnectionsDoesNotWakeUp)
{
    Make();
    TestClient inService(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pClientSocket != nullptr; }));
    TestClient waiting1(relay->GetListenPort());
    TestClient waiting2(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pServSocket->m_pending.size() == 2; }));
    waiting1.Send("GET / HTTP/1.1\r\n\r\n");  // unread bytes on a waiting connection
    Spin(100);
    int wakeUps = 0;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    auto connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    // A loop that nothing wakes waits the whole second in one go; only the timer ends it.
    EXPECT_LE(wakeUps, 3);
}

namespace {
// Lets every send take only a few bytes and say "would block" every other time.
class TrickleSocketApi : public CSocketApi {
public:
    ssize_t Send(int fd, const void* buf, size_t len, int flags) override
    {
        if (++calls % 2 == 0) {
            errno = EAGAIN;
            return -1;
        }
        return CSocketApi::Send(fd, buf, std::min<size_t>(len, 7), flags);
    }
    int calls = 0;
};

// Makes the listener's socket impossible to create.
class NoSocketApi : public CSocketApi {
public:
    int Socket(int, int, int) override
    {
        errno = EMFILE;
        return -1;
    }
};

struct ApiInstall {
    explicit ApiInstall(CSocketApi* api) { CSocketApi::Install(api); }
    ~ApiInstall() { CSocketApi::Install(nullptr); }
};
}

TEST_F(RelayTest, AnswerIsSentWholeWhenTheSocketTakesItInPieces)
{
    Make();
    TrickleSocketApi trickle;
    ApiInstall install(&trickle);
    TestClient client(relay->GetListenPort());
    client.Send("GET / HTTP/1.1\r\n\r\n");
    std::string answer, head, body;
    ASSERT_TRUE(client.ReadUntilClosed(answer));
    EXPECT_TRUE(SplitAnswer(answer, head, body)) << answer.size();
    EXPECT_GT(trickle.calls, 10);
}

TEST_F(RelayTest, ListenerThatCannotBeCreatedReportsPortZero)
{
    NoSocketApi broken;
    {
        ApiInstall install(&broken);
        Make();
    }
    EXPECT_EQ(relay->GetListenPort(), 0u);
    EXPECT_FALSE(relay->m_pServSocket->IsOpen());
    EXPECT_EQ(app.view.urls.at(0), "http:\\\\localhost:0/HttpStatus.html");
}

TEST_F(RelayTest, OfflineConnectionWithoutRequestGivesWayToWaitingOnes)
{
    Make();
    struct Case {
        const char* name;
        std::string firstSends;
    };
    const Case cases[] = {
        {"silent", ""},
        {"garbage", std::string("\x01\x02\xff\x00junk", 8)},
    };
    for (const Case& c : cases) {
        TestClient first(relay->GetListenPort());
        ASSERT_TRUE(WaitUntil([&] { return relay->m_pClientSocket != nullptr; })) << c.name;
        if (!c.firstSends.empty())
            first.Send(c.firstSends);
        TestClient second(relay->GetListenPort());
        second.Send("GET / HTTP/1.1\r\n\r\n");
        std::string answer;
        ASSERT_TRUE(second.ReadUntilClosed(answer)) << c.name;
        EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << c.name;
        EXPECT_TRUE(first.ClosedWithin(1000)) << c.name;
    }
}

TEST_F(RelayTest, TunnelSilentConnectionIsEndedForTheDeviceWhileOthersWait)
{
    Make();
    EnterTunnel();
    TestClient silent(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 1; }));
    TestClient second(relay->GetListenPort());
    second.Send("GET / HTTP/1.1\r\n\r\n");
    // The silent one is reported closed to the device, which then ends it.
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 2; }));
    EXPECT_EQ(Sent()[1], (std::vector<uint8_t>{0x00}));
    relay->CloseGracefully(std::move(relay->m_pClientSocket));
    relay->ActivateNextConnection();
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 4; }));
    EXPECT_EQ(Sent()[2], (std::vector<uint8_t>{0x01}));
    EXPECT_EQ(Sent()[3][0], 0x00);
}

TEST_F(RelayTest, TunnelConnectionAwaitingItsAnswerIsNotEnded)
{
    Make();
    EnterTunnel();
    TestClient first(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 1; }));
    first.Send("GET /slow HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(WaitUntil([&] { return SentCount() == 2; }));
    TestClient second(relay->GetListenPort());
    Spin(CServiceRelay::SILENT_CONNECTION_MS + 500);
    EXPECT_EQ(SentCount(), 2u);
    EXPECT_NE(relay->m_pClientSocket, nullptr);
}

TEST_F(RelayTest, OfflineWaitingConnectionIsServedWithoutANewAccept)
{
    Make();
    TestClient first(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pClientSocket != nullptr; }));
    TestClient second(relay->GetListenPort());
    ASSERT_TRUE(WaitUntil([&] { return relay->m_pServSocket->m_pending.size() == 1; }));
    second.Send("GET / HTTP/1.1\r\n\r\n");
    first.Send("GET / HTTP/1.1\r\n\r\n");
    std::string answer;
    ASSERT_TRUE(first.ReadUntilClosed(answer));
    // No third connection comes: the waiting one is taken all the same.
    std::string secondAnswer;
    ASSERT_TRUE(second.ReadUntilClosed(secondAnswer, 10000));
    EXPECT_EQ(secondAnswer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
}
