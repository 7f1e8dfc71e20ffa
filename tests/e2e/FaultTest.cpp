// Kestrin under faults, end to end: the real libcapi20 reaches the simulator
// through a proxy of the test's own, which can swallow registrations, lose
// confirmations, or see the simulator killed and started again behind it.
#include "CCapiProxy.h"
#include "CProcess.h"
#include "HttpAnswer.h"
#include "UiTestSupport.h"

#include "app/CKestrinApp.h"
#include "capi/CCapiProvider.h"
#include "http/CServSocket.h"
#include "relay/CMainFrame.h"
#include "relay/CServiceRelay.h"
#include "res/CStringTable.h"
#include "ui/CKestrinView.h"

#include <QAction>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace HttpAnswer;
using Clock = std::chrono::steady_clock;

namespace {




// A browser stand-in on its own thread: sends a request, reads the answer
// until the endpoint closes (or `stopAfter` bytes, then aborts), pausing
// `pauseMs` between reads to play a slow reader.
class Browser {
public:
    Browser(unsigned port, std::string request, size_t stopAfter = SIZE_MAX, int pauseMs = 0)
    {
        m_thread = std::thread([=, this] {
            const int fd = ConnectLoopback(port);
            if (fd < 0) {
                m_bDone = true;
                return;
            }
            // A send that the endpoint never takes must not hold the test for ever.
            timeval bound{20, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            const auto deadline = Clock::now() + 170s;
            char buf[16384];
            while (Clock::now() < deadline && m_answer.size() < stopAfter) {
                pollfd pfd{fd, POLLIN, 0};
                if (::poll(&pfd, 1, 200) <= 0)
                    continue;
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    m_bClosed = true;
                    break;
                }
                m_answer.append(buf, static_cast<size_t>(n));
                if (pauseMs)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            ::close(fd);
            m_bDone = true;
        });
    }
    ~Browser() { Join(); }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Done() const { return m_bDone; }
    bool Closed() const { return m_bClosed; }
    const std::string& Answer() const { return m_answer; }  // read only once Done

private:
    std::string m_answer;              // written by the thread until Done
    std::atomic<bool> m_bDone{false};  // the thread has finished
    std::atomic<bool> m_bClosed{false};  // the endpoint closed the connection
    std::thread m_thread;
};

// Watches the main thread's loop from another thread: the longest time it
// went without running a timer is how long the window was frozen.
class Heartbeat {
public:
    Heartbeat()
    {
        m_last = Clock::now().time_since_epoch().count();
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_last = Clock::now().time_since_epoch().count(); });
        m_timer.start();
        m_watch = std::thread([this] {
            while (!m_bStop) {
                std::this_thread::sleep_for(10ms);
                const auto gap = Clock::now().time_since_epoch().count() - m_last.load();
                if (gap > m_longest)
                    m_longest = gap;
            }
        });
    }
    ~Heartbeat()
    {
        m_bStop = true;
        m_watch.join();
    }
    long LongestGapMs() const { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(m_longest.load())).count()); }

private:
    QTimer m_timer;                               // ticks on the main thread
    std::atomic<Clock::rep> m_last;               // when it last ticked
    std::atomic<Clock::rep> m_longest{0};         // the longest gap seen
    std::atomic<bool> m_bStop{false};
    std::thread m_watch;                          // reads the two atomics only
};

// What the process's descriptors point at, for a message when they grew.
std::vector<std::string> Descriptors()
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec))
        out.push_back(std::filesystem::read_symlink(e.path(), ec).string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string Grown(const std::vector<std::string>& before, const std::vector<std::string>& after)
{
    std::vector<std::string> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    std::string text;
    for (const auto& a : added)
        text += a + " ";
    return text;
}

int CountEntries(const char* dir)
{
    int n = 0;
    std::error_code ec;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir, ec))
        ++n;
    return n;
}

long RssKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

const std::string kSmallBlob = "GET /blob?size=1000 HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
}

class FaultTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;                  // private HOME with .capi20rc and the traces
    CCapiProxy m_proxy;                    // what the library talks to
    std::unique_ptr<CProcess> m_pSim;      // the simulator behind the proxy
    int m_nSimRuns = 0;                    // simulators started so far
    CCapiProvider m_capi;
    std::unique_ptr<CKestrinApp> m_pApp;

    CServiceRelay& Hub() { return *m_pApp->m_pServiceRelay; }
    CKestrinView& View() { return *m_pApp->GetMainWnd()->GetActiveView(); }
    unsigned Port() { return Hub().GetListenPort(); }
    std::string TracePath() const { return m_home.filePath("trace-" + QString::number(m_nSimRuns) + ".log").toStdString(); }
    std::string Trace() const
    {
        std::ifstream in(TracePath());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // (Re)starts the simulator behind the proxy.
    bool StartSim(const std::vector<std::string>& extra)
    {
        StopSim();
        ++m_nSimRuns;
        m_pSim = std::make_unique<CProcess>();
        std::vector<std::string> args{"--port", "0", "--trace", TracePath(), "--device", "100=demo"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string line;
        if (!m_pSim->Start(SIM_BINARY, args) || !m_pSim->WaitForLine("listening on 127.0.0.1:", 10s, &line))
            return false;
        m_proxy.SetUpstream(static_cast<unsigned>(std::stoi(line.substr(line.rfind(':') + 1))));
        return true;
    }
    void StopSim()
    {
        if (m_pSim && m_pSim->Running()) {
            m_pSim->Signal(SIGTERM);
            m_pSim->Wait(10s);
        }
        m_pSim.reset();
    }
    bool WaitState(int state, int timeoutMs = 30000)
    {
        return WaitUntil([&] { return Hub().m_nState == state; }, timeoutMs);
    }
    bool WaitMode(int mode, int timeoutMs = 30000)
    {
        return WaitUntil([&] { return Hub().m_nMode == mode; }, timeoutMs);
    }
    void Call()
    {
        if (Hub().m_nMode == CServiceRelay::MODE_TUNNEL)
            return;
        QVERIFY(Hub().Dial("100", nullptr));
        const bool up = WaitMode(CServiceRelay::MODE_TUNNEL);
        QVERIFY2(up, ("state " + std::to_string(Hub().m_nState) + " info " + std::to_string(Hub().m_wLastInfo)).c_str());
    }
    void HangUp()
    {
        if (Hub().m_nMode != CServiceRelay::MODE_TUNNEL)
            return;
        m_pApp->GetMainWnd()->Action(CStringTable::ID_CALL_DISCONNECT)->trigger();
        QVERIFY(WaitState(CServiceRelay::STATE_READY));
        QVERIFY(WaitMode(CServiceRelay::MODE_OFFLINE));
    }
    bool WaitDone(std::vector<std::unique_ptr<Browser>>& browsers, int timeoutMs = 120000)
    {
        return WaitUntil([&] {
            for (auto& b : browsers)
                if (!b->Done())
                    return false;
            return true;
        }, timeoutMs);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_home.setAutoRemove(qEnvironmentVariableIsEmpty("KESTRIN_KEEP_E2E"));
        QVERIFY(m_proxy.Port() != 0);
        QVERIFY(StartSim({"--rate", "0"}));
        {
            std::ofstream rc(m_home.filePath(".capi20rc").toStdString());
            rc << "REMOTE rcapi 127.0.0.1 " << m_proxy.Port() << "\n";
        }
        qputenv("HOME", m_home.path().toLocal8Bit());
        UsePrivateProfile();
        m_pApp = std::make_unique<CKestrinApp>(m_capi);
        QVERIFY(m_pApp->InitInstance({"kestrin"}));
        QCOMPARE(Hub().m_nState.load(), int(CServiceRelay::STATE_READY));
    }

    void cleanupTestCase()
    {
        m_pApp.reset();
        StopSim();
    }

    void badInputAtTheEndpointLeavesItAnswering_data()
    {
        QTest::addColumn<bool>("tunnel");
        QTest::newRow("offline") << false;
        QTest::newRow("tunnel") << true;
    }
    void badInputAtTheEndpointLeavesItAnswering()
    {
        QFETCH(bool, tunnel);
        if (tunnel)
            Call();
        else
            HangUp();
        Heartbeat heartbeat;
        const int silent = ConnectLoopback(Port());
        std::vector<std::unique_ptr<Browser>> browsers;
        browsers.push_back(std::make_unique<Browser>(Port(), std::string("\x16\x03\x01\x02\x00\x01\xff\xfe garbage\r\n\r\n", 22)));
        browsers.push_back(std::make_unique<Browser>(Port(), "POST /upload HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n"
                                                                 + std::string(1 << 20, 'x')));
        std::thread slow([port = Port()] {
            const int fd = ConnectLoopback(port);
            for (char c : std::string("GET / HTTP/1.1\r\n\r\n")) {
                ::send(fd, &c, 1, MSG_NOSIGNAL);
                std::this_thread::sleep_for(100ms);
            }
            ::close(fd);
        });
        const std::string wanted = tunnel ? kSmallBlob : "GET / HTTP/1.1\r\n\r\n";
        browsers.push_back(std::make_unique<Browser>(Port(), wanted));
        QVERIFY(WaitDone(browsers));
        slow.join();
        ::close(silent);
        const std::string& answer = browsers.back()->Answer();
        QVERIFY2(answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0, answer.substr(0, 80).c_str());
        if (tunnel)
            QVERIFY(ChecksumMatches(answer));
        // Short pauses of the loop are part of the design; the window never freezes.
        QVERIFY2(heartbeat.LongestGapMs() < 3000, std::to_string(heartbeat.LongestGapMs()).c_str());
    }

    void hundredBrowserConnectionsAtOnce()
    {
        Call();
        std::vector<std::unique_ptr<Browser>> browsers;
        for (int i = 0; i < 100; ++i)
            browsers.push_back(std::make_unique<Browser>(Port(), kSmallBlob));
        QVERIFY(WaitDone(browsers, 240000));
        int intact = 0;
        std::string broken;
        for (auto& b : browsers) {
            if (ChecksumMatches(b->Answer()))
                ++intact;
            else if (broken.empty())
                broken = "closed=" + std::to_string(b->Closed()) + " answer: " + b->Answer().substr(0, 120);
        }
        QVERIFY2(intact == 100, (std::to_string(intact) + " intact; first broken " + broken).c_str());
    }

    void browserAbortsInTheMiddleOfAResponse()
    {
        Call();
        {
            Browser aborting(Port(), "GET /blob?size=50000000 HTTP/1.1\r\nConnection: close\r\n\r\n", 300000);
            QVERIFY(WaitUntil([&] { return aborting.Done(); }, 60000));
        }
        std::vector<std::unique_ptr<Browser>> next;
        next.push_back(std::make_unique<Browser>(Port(), kSmallBlob));
        QVERIFY(WaitDone(next, 60000));
        QVERIFY(ChecksumMatches(next[0]->Answer()));
    }

    void deviceThatFloodsASlowReader()
    {
        Call();
        Heartbeat heartbeat;
        std::vector<std::unique_ptr<Browser>> browsers;
        browsers.push_back(std::make_unique<Browser>(Port(), "GET /blob?size=4000000 HTTP/1.1\r\nConnection: close\r\n\r\n",
                                                     SIZE_MAX, 5));
        QVERIFY(WaitDone(browsers, 120000));
        QVERIFY(ChecksumMatches(browsers[0]->Answer()));
        QVERIFY2(heartbeat.LongestGapMs() < 3000, std::to_string(heartbeat.LongestGapMs()).c_str());
    }

    void confirmationsThatNeverComeSlowTheCallButLoseNothing()
    {
        Call();
        m_proxy.DropToClient(0x86, 0x81);
        std::vector<std::unique_ptr<Browser>> browsers;
        browsers.push_back(std::make_unique<Browser>(Port(), kSmallBlob));
        QVERIFY(WaitDone(browsers, 60000));
        QVERIFY(ChecksumMatches(browsers[0]->Answer()));
        QVERIFY(m_proxy.Dropped() > 0);
        m_proxy.DropToClient(0, 0);
        HangUp();
    }

    void exchangeKilledDuringACall()
    {
        Call();
        std::vector<std::unique_ptr<Browser>> browsers;
        browsers.push_back(std::make_unique<Browser>(Port(), "GET /blob?size=500000000 HTTP/1.1\r\n\r\n"));
        QVERIFY(WaitUntil([&] { return Trace().find("connection") != std::string::npos; }, 10000));
        m_pSim->Signal(SIGKILL);
        QVERIFY(m_pSim->Wait(10s));
        QVERIFY(WaitMode(CServiceRelay::MODE_OFFLINE));
        QVERIFY(WaitState(CServiceRelay::STATE_READY));
        QVERIFY(Hub().m_wLastInfo != 0);  // the status page says why
        QVERIFY(WaitDone(browsers, 30000));
        QVERIFY(WaitForPageText(View(), "ISDN Status: Capi: 0x"));
        // A new exchange behind the same address: the next call works.
        QVERIFY(StartSim({"--rate", "0"}));
        Call();
        HangUp();
    }

    void exchangeThatNeverAnswersARegistration()
    {
        HangUp();
        m_proxy.SetMode(CCapiProxy::BLACKHOLE);
        Heartbeat heartbeat;
        QVERIFY(Hub().Dial("100", nullptr));
        QVERIFY(WaitState(CServiceRelay::STATE_READY, 30000));
        QVERIFY(Hub().m_wLastInfo != 0);
        QVERIFY(m_proxy.Swallowed() > 0);
        QVERIFY2(heartbeat.LongestGapMs() < 3000, std::to_string(heartbeat.LongestGapMs()).c_str());
        m_proxy.SetMode(CCapiProxy::FORWARD);
        m_proxy.CutAll();
        WaitUntil([] { return false; }, 1000);
        Call();
        HangUp();
    }

    void twoHundredDialAndHangUpCycles()
    {
        HangUp();
        auto cycle = [&] {
            QVERIFY(Hub().Dial("100", nullptr));
            const bool up = WaitState(CServiceRelay::STATE_CONNECTED);
            QVERIFY2(up, ("state " + std::to_string(Hub().m_nState) + " info " + std::to_string(Hub().m_wLastInfo)).c_str());
            Hub().Disconnect();
            QVERIFY(WaitState(CServiceRelay::STATE_READY));
            QVERIFY(WaitMode(CServiceRelay::MODE_OFFLINE));
        };
        for (int i = 0; i < 20; ++i) {
            cycle();
            if (QTest::currentTestFailed())
                return;
        }
        WaitUntil([] { return false; }, 500);
        const int fds = CountEntries("/proc/self/fd");
        const std::vector<std::string> descriptors = Descriptors();
        const int threads = CountEntries("/proc/self/task");
        const long rss = RssKb();
        for (int i = 0; i < 200; ++i) {
            cycle();
            if (QTest::currentTestFailed())
                return;
        }
        WaitUntil([] { return false; }, 500);
        QVERIFY2(CountEntries("/proc/self/fd") <= fds + 10, (std::to_string(fds) + " -> " + std::to_string(CountEntries("/proc/self/fd")) + ": " + Grown(descriptors, Descriptors())).c_str());
        QVERIFY2(CountEntries("/proc/self/task") <= threads + 6, (std::to_string(threads) + " -> " + std::to_string(CountEntries("/proc/self/task"))).c_str());
        QVERIFY2(RssKb() < rss + 40 * 1024, (std::to_string(rss) + " kB -> " + std::to_string(RssKb()) + " kB").c_str());
    }

    void quittingDuringACallWithTraffic()
    {
        Call();
        std::vector<std::unique_ptr<Browser>> browsers;
        browsers.push_back(std::make_unique<Browser>(Port(), "GET /blob?size=500000000 HTTP/1.1\r\n\r\n"));
        QVERIFY(WaitUntil([&] { return Trace().rfind("connection") != std::string::npos; }, 10000));
        WaitUntil([] { return false; }, 300);
        const auto start = Clock::now();
        m_pApp->OnAppExit();
        m_pApp.reset();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        QVERIFY2(took < 15000, std::to_string(took).c_str());
        QVERIFY(WaitDone(browsers, 30000));
        // The application was given back: the exchange saw its client go.
        QVERIFY(WaitUntil([&] { return Trace().find("dropped, its client is gone") != std::string::npos; }, 10000));
    }
};

int main(int argc, char** argv)
{
    return RunGuiTest(argc, argv, [] { return new FaultTest; });
}

#include "FaultTest.moc"
