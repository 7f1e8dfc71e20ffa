// The simulator as a program, driven through the real libcapi20.so.3 by the
// test client, each client in its own process.

#include "CProcess.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Finds "key=value" in the first line of text that contains marker.
std::string Field(const std::string& text, const std::string& marker, const std::string& key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(marker) == std::string::npos)
            continue;
        auto at = line.find(key + "=");
        if (at == std::string::npos)
            continue;
        at += key.size() + 1;
        return line.substr(at, line.find(' ', at) - at);
    }
    return {};
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class SimExchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/kestrin-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_dir = dir;
    }

    void TearDown() override
    {
        if (m_sim.Running()) {
            m_sim.Signal(SIGTERM);
            EXPECT_TRUE(m_sim.Wait(10s)) << "simulator did not end on SIGTERM";
            EXPECT_EQ(m_sim.ExitCode(), 0);
            EXPECT_NE(m_sim.Output().find("kestrin-sim stopped"), std::string::npos);
        }
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    void StartSim(std::vector<std::string> args)
    {
        args.insert(args.end(), { "--port", "0", "--trace", (m_dir / "trace.log").string() });
        ASSERT_TRUE(m_sim.Start(SIM_BINARY, args));
        std::string line;
        ASSERT_TRUE(m_sim.WaitForLine("kestrin-sim listening on 127.0.0.1:", 10s, &line)) << m_sim.Output();
        m_port = line.substr(line.rfind(':') + 1);
        std::ofstream rc(m_dir / ".capi20rc");
        rc << "REMOTE rcapi 127.0.0.1 " << m_port << "\n";
    }

    void StartClient(CProcess& client, const std::vector<std::string>& args)
    {
        ASSERT_TRUE(client.Start(SIM_CLIENT, args, { "HOME=" + m_dir.string() }));
    }

    // Runs a client to its end; it has its own deadline, so the bound here
    // only catches a client that hangs inside the library.
    std::string RunClient(const std::vector<std::string>& args)
    {
        CProcess client;
        StartClient(client, args);
        EXPECT_TRUE(client.Wait(90s)) << "client did not end";
        EXPECT_EQ(client.ExitCode(), 0) << client.Output();
        EXPECT_NE(client.Output().find("\ndone\n"), std::string::npos) << client.Output();
        return client.Output();
    }

    std::string Trace() const
    {
        std::ifstream in(m_dir / "trace.log");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Waits until the trace contains text.
    bool TraceShows(const std::string& text, std::chrono::milliseconds bound = 10s) const
    {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Trace().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    fs::path m_dir;      // private HOME with .capi20rc and the trace
    CProcess m_sim;      // the simulator
    std::string m_port;  // its port
};

TEST_F(SimExchange, AnswersTheLibrarysQueries)
{
    StartSim({});
    std::string out = RunClient({ "queries" });
    EXPECT_NE(out.find("installed=0x0000"), std::string::npos) << out;
    EXPECT_NE(out.find("manufacturer=Kestrin ISDN simulator"), std::string::npos) << out;
    EXPECT_NE(out.find("version=2.0.1.0"), std::string::npos) << out;
    EXPECT_NE(out.find("serial=0000042"), std::string::npos) << out;
    EXPECT_NE(out.find("profile info=0x0000 controllers=1"), std::string::npos) << out;
    EXPECT_NE(out.find("profile1 info=0x0000 bchannels=2"), std::string::npos) << out;
    EXPECT_TRUE(TraceShows("<- GET_PROFILE client=1 ctrl=0"));
}

TEST_F(SimExchange, CarriesACallWithDataBothWaysIntact)
{
    StartSim({ "--device", "100=demo", "--rate", "64000" });
    std::string out = RunClient({ "call", "100", "--chunk", "700", "--get", "/", "--post", "/upload", "30000", "--get",
        "/blob?size=30000", "--form", "/einstellungen", "name=Testanlage", "--get", "/", "--hangup" });
    EXPECT_NE(out.find("register=0x0000"), std::string::npos) << out;
    EXPECT_NE(out.find("recv CONNECT_CONF plci=0x101 info=0x0000"), std::string::npos) << out;
    EXPECT_NE(out.find("response 1 status=\"HTTP/1.1 200 OK\""), std::string::npos) << out;
    // The device counted and checksummed exactly the bytes that were sent.
    std::string sent = Field(out, "upload fnv1a=", "fnv1a");
    ASSERT_FALSE(sent.empty()) << out;
    EXPECT_NE(out.find("text 2 bytes=30000 fnv1a=" + sent), std::string::npos) << out;
    // The download arrived as the device generated it.
    EXPECT_EQ(Field(out, "response 3 ", "body"), "30000") << out;
    EXPECT_EQ(Field(out, "response 3 ", "fnv"), Field(out, "response 3 ", "xfnv")) << out;
    EXPECT_NE(out.find("page 4 id=\"gespeichert\""), std::string::npos) << out;
    EXPECT_NE(out.find("page 5 id=\"name\">Testanlage"), std::string::npos) << out;
    EXPECT_NE(out.find("recv DISCONNECT_B3_CONF info=0x0000"), std::string::npos) << out;
    EXPECT_NE(out.find("recv DISCONNECT_IND plci=0x101 reason=0x3400"), std::string::npos) << out;

    ASSERT_TRUE(TraceShows("<- DISCONNECT_RESP"));
    std::string trace = Trace();
    for (const char* line : { "bufsize=2048 maxconn=2 maxblocks=7 maxlen=2048", "called=100 calling=45",
             "-> CONNECT_ACTIVE_IND", "-> CONNECT_B3_ACTIVE_IND", "<- DATA_B3_REQ", "-> DATA_B3_IND", "<- DATA_B3_RESP",
             "<- DISCONNECT_B3_REQ", "-> DISCONNECT_B3_IND", "<- DISCONNECT_RESP", "device 100: connection 5 ended" })
        EXPECT_NE(trace.find(line), std::string::npos) << line;
}

struct SCause {
    const char* Number;  // number dialled
    const char* Expect;  // line the client prints
};

TEST_F(SimExchange, ReportsTheFarEndsCauses)
{
    StartSim({ "--device", "101=busy", "--device", "102=noanswer=300", "--device", "103=refuse-b3", "--setup-delay", "50" });
    for (const SCause& c : { SCause { "101", "recv DISCONNECT_IND plci=0x101 reason=0x3491" },
             SCause { "555", "recv DISCONNECT_IND plci=0x201 reason=0x3483" },
             SCause { "102", "recv DISCONNECT_IND plci=0x301 reason=0x3492" },
             SCause { "103", "recv CONNECT_B3_CONF ncci=0x401 info=0x3003" } }) {
        std::string out = RunClient({ "call", c.Number, "--get", "/" });
        EXPECT_NE(out.find(c.Expect), std::string::npos) << c.Number << "\n" << out;
        EXPECT_EQ(out.find("response 1"), std::string::npos) << c.Number;
    }
    EXPECT_TRUE(TraceShows("call 0x401: cleared by the client"));
    EXPECT_TRUE(TraceShows("number 555 is not known"));
}

TEST_F(SimExchange, NetworkClearsAfterTheGivenBytes)
{
    StartSim({ "--device", "104=demo,clear-after=5000", "--rate", "0" });
    std::string out = RunClient({ "call", "104", "--get", "/blob?size=50000" });
    EXPECT_NE(out.find("recv DISCONNECT_B3_IND"), std::string::npos) << out;
    EXPECT_NE(out.find("reason=0x3490"), std::string::npos) << out;
    EXPECT_EQ(out.find("response 1"), std::string::npos) << out;
    EXPECT_TRUE(TraceShows("network drops the call after"));
}

TEST_F(SimExchange, HoldsBackDataWhileSevenIndicationsAreUnanswered)
{
    StartSim({ "--device", "100=demo", "--rate", "0" });
    std::string out = RunClient({ "call", "100", "--get", "/blob?size=40000", "--ignore-ind", "--deadline", "1500" });
    EXPECT_NE(out.find("released"), std::string::npos);
    ASSERT_TRUE(TraceShows("dropped, its client is gone"));
    EXPECT_EQ(Count(Trace(), "-> DATA_B3_IND"), 7u);
}

TEST_F(SimExchange, MalformedFrameClosesOnlyThatClient)
{
    StartSim({ "--device", "100=demo", "--rate", "16000" });
    CProcess first;
    StartClient(first, { "call", "100", "--get", "/blob?size=20000", "--hangup" });
    ASSERT_TRUE(TraceShows("-> CONNECT_B3_ACTIVE_IND"));
    std::string bad = RunClient({ "call", "100", "--malformed", "--deadline", "5000" });
    EXPECT_NE(bad.find("get_message=0x"), std::string::npos) << bad;
    EXPECT_TRUE(TraceShows("closed (malformed frame: frame length 5 is shorter than a message header)"));
    ASSERT_TRUE(first.Wait(60s));
    EXPECT_EQ(Field(first.Output(), "response 1 ", "fnv"), Field(first.Output(), "response 1 ", "xfnv")) << first.Output();
    EXPECT_EQ(Field(first.Output(), "response 1 ", "body"), "20000") << first.Output();
}

TEST_F(SimExchange, ClientVanishingMidCallLeavesTheExchangeWorking)
{
    StartSim({ "--device", "100=demo", "--rate", "32000" });
    std::string out = RunClient({ "call", "100", "--get", "/blob?size=60000", "--vanish-after", "4000" });
    EXPECT_NE(out.find("vanish after"), std::string::npos) << out;
    EXPECT_TRUE(TraceShows("call 0x101: dropped, its client is gone"));
    std::string again = RunClient({ "call", "100", "--get", "/", "--hangup" });
    EXPECT_NE(again.find("response 1 status=\"HTTP/1.1 200 OK\""), std::string::npos) << again;
}

TEST_F(SimExchange, OffersAnIncomingCallThatIsDeclined)
{
    StartSim({ "--incoming", "999", "--incoming-delay", "100" });
    std::string out = RunClient({ "incoming", "--deadline", "10000" });
    EXPECT_NE(out.find("recv CONNECT_IND plci=0x101"), std::string::npos) << out;
    EXPECT_NE(out.find("recv DISCONNECT_IND plci=0x101 reason=0x0000"), std::string::npos) << out;
    EXPECT_TRUE(TraceShows("CONNECT_RESP appl="));
    EXPECT_TRUE(TraceShows("plci=0x101 reject=1"));
    EXPECT_TRUE(TraceShows("incoming call declined (reject=1)"));
}

TEST_F(SimExchange, SigtermDuringACallEndsTheSimulatorCleanly)
{
    StartSim({ "--device", "100=demo" });
    CProcess client;
    StartClient(client, { "call", "100", "--get", "/blob?size=100000", "--deadline", "20000" });
    ASSERT_TRUE(TraceShows("-> DATA_B3_IND"));
    m_sim.Signal(SIGTERM);
    ASSERT_TRUE(m_sim.Wait(10s));
    EXPECT_EQ(m_sim.ExitCode(), 0);
    EXPECT_TRUE(TraceShows("stopped by signal"));
    // The client sees the link go and still ends by releasing.
    ASSERT_TRUE(client.Wait(60s));
    EXPECT_NE(client.Output().find("released"), std::string::npos) << client.Output();
}

// A one-shot HTTP server on 127.0.0.1 for the forwarding device.
class COneShotServer {
public:
    COneShotServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_fd, 1);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this]() {
            int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            std::string request;
            char buf[1024];
            timeval tv { 10, 0 };
            ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, static_cast<std::size_t>(n));
            }
            m_request = request;
            std::string body = "forwarded " + request.substr(0, request.find("\r\n"));
            std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
            ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(c);
        });
    }
    ~COneShotServer()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    COneShotServer(const COneShotServer&) = delete;
    COneShotServer& operator=(const COneShotServer&) = delete;

    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;          // listening socket
    std::uint16_t m_port;   // its port
    std::thread m_thread;   // serves one connection
    std::string m_request;  // what it received, written by m_thread before it ends
};

TEST_F(SimExchange, ForwardsTunnelledConnectionsToAnHttpServer)
{
    COneShotServer server;
    // A port that nobody listens on: a socket bound and closed again.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
    std::string deadPort = std::to_string(ntohs(addr.sin_port));
    ::close(probe);

    StartSim({ "--device", "106=forward=" + std::to_string(server.Port()), "--device", "107=forward=" + deadPort, "--rate", "0" });
    std::string out = RunClient({ "call", "106", "--get", "/weiter", "--hangup" });
    EXPECT_NE(out.find("text 1 forwarded GET /weiter HTTP/1.1"), std::string::npos) << out;
    std::string dead = RunClient({ "call", "107", "--get", "/", "--hangup" });
    EXPECT_NE(dead.find("response 1 status=\"HTTP/1.1 502 Bad Gateway\""), std::string::npos) << dead;
}

} // namespace
