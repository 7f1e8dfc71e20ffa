// Kestrin end to end: the application object as the program builds it, the
// real libcapi20.so.3 configured for the simulator's remote-CAPI port, and
// the simulator playing the exchange and the demo device.
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
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace HttpAnswer;

namespace {
const QString kDialling = QString::fromUtf8("W\xC3\xA4hle ...");
const QString kDeviceStatus = QString::fromUtf8("Ger\xC3\xA4testatus");


// One HTTP exchange with the endpoint, as a browser would make it.
struct Fetch {
    std::string request;                    // what is sent
    std::string answer;                     // everything received until the close
    std::chrono::steady_clock::time_point done;  // when the close was seen
    bool closed = false;
};

// Reads until the peer closes, at most `bound`.
void ReadAll(int fd, Fetch& fetch, std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    char buf[8192];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 200) <= 0)
            continue;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            fetch.closed = true;
            break;
        }
        fetch.answer.append(buf, static_cast<size_t>(n));
    }
    fetch.done = std::chrono::steady_clock::now();
}


}

class EndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;              // private HOME with .capi20rc and the trace
    CProcess m_sim;                    // the exchange and the devices
    CCapiProvider m_capi;              // the real binding, as the program uses it
    std::unique_ptr<CKestrinApp> m_pApp;

    CServiceRelay& Hub() { return *m_pApp->m_pServiceRelay; }
    CKestrinView& View() { return *m_pApp->GetMainWnd()->GetActiveView(); }
    std::string TracePath() const { return m_home.filePath("trace.log").toStdString(); }
    std::string Trace() const
    {
        std::ifstream in(TracePath());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The trace lines from `from` on that contain `what`.
    std::vector<std::string> TraceLines(const std::string& what, size_t from = 0) const
    {
        std::vector<std::string> lines;
        std::istringstream in(Trace().substr(std::min(from, Trace().size())));
        for (std::string line; std::getline(in, line);)
            if (line.find(what) != std::string::npos)
                lines.push_back(line);
        return lines;
    }
    bool WaitState(int state, int timeoutMs = 20000)
    {
        return WaitUntil([&] { return Hub().m_nState == state; }, timeoutMs);
    }
    bool WaitTunnel() { return WaitUntil([&] { return Hub().m_nMode == CServiceRelay::MODE_TUNNEL; }, 20000); }
    bool WaitOffline() { return WaitUntil([&] { return Hub().m_nMode == CServiceRelay::MODE_OFFLINE; }, 20000); }
    void RunScript(const QString& script) { View().page()->runJavaScript(script); }

    // Dials the demo device and waits for its start page.
    void DialDemo(const char* number = "100")
    {
        QVERIFY(Hub().Dial(number, "4711"));
        QVERIFY(WaitTunnel());
        QVERIFY(WaitForPageText(View(), kDeviceStatus));
    }
    // The demo device's call, made unless it is up already.
    void EnsureCall()
    {
        if (Hub().m_nMode != CServiceRelay::MODE_TUNNEL)
            DialDemo();
    }
    void EnsureOffline()
    {
        if (Hub().m_nMode == CServiceRelay::MODE_TUNNEL)
            HangUp();
    }
    // Hangs up, as "&Trennen" does, and waits for the status page.
    void HangUp()
    {
        m_pApp->GetMainWnd()->Action(CStringTable::ID_CALL_DISCONNECT)->trigger();
        QVERIFY(WaitState(CServiceRelay::STATE_READY));
        QVERIFY(WaitOffline());
    }
    // Runs `fetches` against the endpoint, connected in this order, read at once.
    void FetchAll(std::vector<Fetch>& fetches)
    {
        std::vector<int> fds;
        for (size_t i = 0; i < fetches.size(); ++i) {
            fds.push_back(ConnectLoopback(Hub().GetListenPort()));
            // Accepted in this order: the endpoint serves them one after the other.
            QVERIFY(WaitUntil([&] { return Hub().m_pServSocket->m_pending.size() + (Hub().m_pClientSocket ? 1 : 0) >= 1; }, 5000));
            QTest::qWait(20);
        }
        std::vector<std::thread> readers;
        for (size_t i = 0; i < fetches.size(); ++i) {
            readers.emplace_back([&, i] {
                ::send(fds[i], fetches[i].request.data(), fetches[i].request.size(), MSG_NOSIGNAL);
                ReadAll(fds[i], fetches[i], 120s);
            });
        }
        std::atomic<size_t> finished{0};
        WaitUntil([&] {
            size_t n = 0;
            for (auto& f : fetches)
                n += f.closed;
            finished = n;
            return n == fetches.size();
        }, 150000);
        for (auto& t : readers)
            t.join();
        for (int fd : fds)
            ::close(fd);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_home.setAutoRemove(qEnvironmentVariableIsEmpty("KESTRIN_KEEP_E2E"));
        // The simulator's port must be known before the library first loads.
        QVERIFY(m_sim.Start(SIM_BINARY, {"--port", "0", "--trace", TracePath(), "--setup-delay", "800",
                                         "--device", "100=demo", "--device", "101=busy",
                                         "--device", "104=demo,clear-after=20000",
                                         "--incoming", "5550", "--incoming-delay", "300"}));
        std::string line;
        QVERIFY(m_sim.WaitForLine("listening on 127.0.0.1:", 10s, &line));
        const std::string port = line.substr(line.rfind(':') + 1);
        {
            std::ofstream rc(m_home.filePath(".capi20rc").toStdString());
            rc << "REMOTE rcapi 127.0.0.1 " << std::stoi(port) << "\n";
        }
        qputenv("HOME", m_home.path().toLocal8Bit());
        UsePrivateProfile();
        m_pApp = std::make_unique<CKestrinApp>(m_capi);
        QVERIFY(m_pApp->InitInstance({"kestrin", "-d", "100"}));
    }

    void cleanupTestCase()
    {
        if (m_pApp && Hub().m_nMode == CServiceRelay::MODE_TUNNEL)
            HangUp();
        m_pApp.reset();
        m_sim.Signal(SIGTERM);
        QVERIFY(m_sim.Wait(10s));
    }

    void dialFromTheCommandLineShowsDiallingThenTheDevicePage()
    {
        // The page shows the state text and the number (HTML folds the two spaces between them).
        QVERIFY(WaitForPageText(View(), kDialling + " 100"));
        QVERIFY(WaitTunnel());
        QVERIFY(WaitForPageText(View(), kDeviceStatus));
        const auto connects = TraceLines("<- CONNECT_REQ");
        QCOMPARE(connects.size(), size_t(1));
        QVERIFY(connects[0].find("called=100") != std::string::npos);
    }

    void incomingCallIsDeclined()
    {
        QVERIFY(WaitUntil([&] { return !TraceLines("-> CONNECT_IND").empty(); }, 10000));
        QVERIFY(WaitUntil([&] { return !TraceLines("<- CONNECT_RESP").empty(); }, 10000));
        QVERIFY(TraceLines("<- CONNECT_RESP")[0].find("reject=1") != std::string::npos);
        // The declined call does not touch the one in service.
        QCOMPARE(Hub().m_nState.load(), int(CServiceRelay::STATE_CONNECTED));
        QCOMPARE(Hub().m_nMode.load(), int(CServiceRelay::MODE_TUNNEL));
    }

    void postRoundTripThroughTheTunnel()
    {
        EnsureCall();
        RunScript("location.href = '/einstellungen'");
        QVERIFY(WaitForPageText(View(), "Meldeintervall (Minuten)"));
        RunScript("document.getElementById('name').value = 'Pumpwerk 7'; document.forms[0].submit();");
        QVERIFY(WaitForPageText(View(), "Einstellungen gespeichert."));
        RunScript("location.href = '/'");
        QVERIFY(WaitForPageText(View(), "Pumpwerk 7"));
    }

    void tenConnectionsAtOnceAreServedInOrderWithEveryByteIntact()
    {
        EnsureCall();
        std::vector<Fetch> fetches(10);
        for (size_t i = 0; i < fetches.size(); ++i)
            fetches[i].request = "GET /blob?size=" + std::to_string(1500 + 700 * i)
                                 + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
        FetchAll(fetches);
        for (size_t i = 0; i < fetches.size(); ++i) {
            const Fetch& f = fetches[i];
            QVERIFY2(f.closed, f.request.c_str());
            const std::string body = Body(f.answer);
            QCOMPARE(body.size(), size_t(1500 + 700 * i));
            char hex[16];
            std::snprintf(hex, sizeof hex, "%08x", Fnv1a(body));
            QCOMPARE(Header(f.answer, "X-Checksum-Fnv1a"), std::string(hex));
            if (i > 0)
                QVERIFY(f.done >= fetches[i - 1].done);
        }
    }

    void uploadArrivesWhole()
    {
        EnsureCall();
        std::string data;
        for (int i = 0; i < 30000; ++i)
            data += static_cast<char>((i * 7919) >> 3);
        std::vector<Fetch> fetches(1);
        fetches[0].request = "POST /upload HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\nContent-Length: "
                             + std::to_string(data.size()) + "\r\n\r\n" + data;
        FetchAll(fetches);
        char expect[64];
        std::snprintf(expect, sizeof expect, "bytes=%zu fnv1a=%08x\n", data.size(), Fnv1a(data));
        QCOMPARE(Body(fetches[0].answer), std::string(expect));
    }

    void hangUpClearsB3ThenTheCallAndShowsTheCause()
    {
        EnsureCall();
        const size_t from = Trace().size();
        HangUp();
        const auto b3 = TraceLines("<- DISCONNECT_B3_REQ", from);
        const auto call = TraceLines("<- DISCONNECT_REQ", from);
        QCOMPARE(b3.size(), size_t(1));
        QCOMPARE(call.size(), size_t(1));
        const std::string after = Trace().substr(from);
        QVERIFY(after.find("<- DISCONNECT_B3_REQ") < after.find("<- DISCONNECT_REQ"));
        QVERIFY(WaitForPageText(View(), "Aufgelegt"));
    }

    void causesOfCallsThatFail_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("busy") << "101" << "ETSI x91: Teilnehmer besetzt";
        QTest::newRow("unknown") << "999" << "ETSI x83: Teilnehmer nicht bekannt!";
    }
    void causesOfCallsThatFail()
    {
        EnsureOffline();
        QFETCH(QString, number);
        QFETCH(QString, text);
        const std::string n = number.toStdString();
        QVERIFY(Hub().Dial(n.c_str(), nullptr));
        QVERIFY(WaitForPageText(View(), text));
        QCOMPARE(Hub().m_nState.load(), int(CServiceRelay::STATE_READY));
        QCOMPARE(Hub().m_nMode.load(), int(CServiceRelay::MODE_OFFLINE));
    }

    void networkDropDuringATransferBringsBackTheStatusPage()
    {
        EnsureOffline();
        DialDemo("104");
        std::vector<Fetch> fetches(1);
        fetches[0].request = "GET /blob?size=200000 HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
        FetchAll(fetches);  // ends when the drop takes the connection down
        QVERIFY(fetches[0].closed);
        QVERIFY(Body(fetches[0].answer).size() < 200000);
        QVERIFY(WaitState(CServiceRelay::STATE_READY, 60000));
        QCOMPARE(Hub().m_wLastInfo.load(), uint16_t(0x3490));
        QVERIFY(WaitOffline());
        QVERIFY(WaitForPageText(View(), "Aufgelegt"));
    }

    void pageThatClosesTheWindowHangsUp()
    {
        EnsureOffline();
        DialDemo();
        RunScript("location.href = '/trennen'");
        QVERIFY(WaitForPageText(View(), "Sitzung beenden"));
        RunScript("document.getElementById('trennen').click()");
        QVERIFY(WaitState(CServiceRelay::STATE_READY));
        QVERIFY(WaitOffline());
        QVERIFY(m_pApp->GetMainWnd()->isVisible());
        QVERIFY(WaitForPageText(View(), "ISDN Status"));
    }
};

int main(int argc, char** argv)
{
    return RunGuiTest(argc, argv, [] { return new EndToEndTest; });
}

#include "EndToEndTest.moc"
