// The main window as the meeting point of the threads: device data and
// control blocks on a real browser-side socket, relay events and the two mode
// switches, the status-bar panes, and the view's navigation rules.

#include "CFakeCapiProvider.h"
#include "UiTestSupport.h"

#include "app/CKestrinApp.h"
#include "http/CClientSocket.h"
#include "http/CServSocket.h"
#include "platform/CMainThreadMessenger.h"
#include "relay/CMainFrame.h"
#include "relay/CServiceRelay.h"
#include "res/CStringTable.h"
#include "ui/CCmdUI.h"
#include "ui/CKestrinDoc.h"
#include "ui/CKestrinView.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#if KESTRIN_TEST_X11
#include <QGuiApplication>
// Last: the X headers define macros that clash with names above.
#include <X11/XKBlib.h>
#endif

namespace {
using S = CStringTable;

// Records every main-frame request the engine makes, with how it was started.
class RequestLog : public QWebEngineUrlRequestInterceptor {
public:
    struct Entry {
        QUrl url;
        QWebEngineUrlRequestInfo::NavigationType type;
    };
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
            return;
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries.push_back({info.requestUrl(), info.navigationType()});
    }
    std::vector<Entry> Entries()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_entries;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries.clear();
    }

private:
    std::mutex m_lock;
    std::vector<Entry> m_entries;
};

std::vector<uint8_t> EventBlock(int32_t code, uint16_t info = 0)
{
    uint8_t block[CServiceRelay::EVENT_BLOCK_SIZE];
    CServiceRelay::BuildEventBlock(block, code, info);
    return std::vector<uint8_t>(block, block + sizeof block);
}

// Reads from a blocking socket until the peer closes or `limit` bytes came; bounded by a receive time-out.
std::string ReadAll(int fd, size_t limit)
{
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string out;
    char buf[65536];
    while (out.size() < limit) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

bool PeerClosed(int fd)
{
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char c;
    return ::recv(fd, &c, 1, 0) == 0;
}
}

class FrameTest : public QObject {
    Q_OBJECT
private:
    CFakeCapiProvider m_capi;
    std::unique_ptr<CKestrinApp> m_pApp;
    std::vector<int> m_clients;

    CServiceRelay& Hub() { return *m_pApp->m_pServiceRelay; }
    CMainFrame& Frame() { return *m_pApp->GetMainWnd(); }
    CKestrinView& View() { return *Frame().GetActiveView(); }
    std::string StatusUrl() { return S::Format(S::Get(S::IDS_STATUS_URL), static_cast<int>(Hub().GetListenPort())); }
    std::string DeviceUrl() { return S::Format(S::Get(S::IDS_DEVICE_URL), static_cast<int>(Hub().GetListenPort())); }

    bool Deliver(const std::vector<uint8_t>& block)
    {
        CMainFrame::CopyData data{1, static_cast<int>(block.size()), block.data()};
        return Frame().OnCopyData(nullptr, &data);
    }
    // A browser-side connection that the listener has accepted.
    int Connect()
    {
        const size_t before = Hub().m_pServSocket->m_pending.size() + (Hub().m_pClientSocket ? 1 : 0);
        const int fd = ConnectLoopback(Hub().GetListenPort());
        m_clients.push_back(fd);
        WaitUntil([&] { return Hub().m_pServSocket->m_pending.size() + (Hub().m_pClientSocket ? 1 : 0) > before; });
        return fd;
    }

private slots:
    void init()
    {
        UsePrivateProfile();
        m_capi.m_bDriver = false;
        m_pApp = std::make_unique<CKestrinApp>(m_capi);
        QVERIFY(m_pApp->InitInstance({"kestrin"}));
        QVERIFY(WaitForPageText(View(), "ISDN Status: Fehler"));
    }
    void cleanup()
    {
        m_pApp.reset();
        for (int fd : m_clients)
            ::close(fd);
        m_clients.clear();
    }

    void dataBlockReachesTheBrowserWhole()
    {
        const int fd = Connect();
        QVERIFY(Hub().m_pClientSocket);
        // Far more than the socket buffers hold, and the browser starts reading
        // late: a send that would block must wait and then go on.
        std::vector<uint8_t> block(4 * 1024 * 1024 + 1);
        block[0] = CServiceRelay::TAG_DATA;
        for (size_t i = 1; i < block.size(); ++i)
            block[i] = static_cast<uint8_t>(i * 7);
        auto received = std::async(std::launch::async, [fd, n = block.size() - 1] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return ReadAll(fd, n);
        });
        QVERIFY(Deliver(block));
        const std::string got = received.get();
        QCOMPARE(got.size(), block.size() - 1);
        QVERIFY(std::memcmp(got.data(), block.data() + 1, got.size()) == 0);
    }

    void dataBlockWithoutConnectionOrPayloadSendsNothing()
    {
        QVERIFY(!Hub().m_pClientSocket);
        QVERIFY(!Deliver({CServiceRelay::TAG_DATA, 'x'}));
        const int fd = Connect();
        QVERIFY(Hub().m_pClientSocket);
        QVERIFY(!Deliver({CServiceRelay::TAG_DATA}));
        char c;
        QCOMPARE(::recv(fd, &c, 1, MSG_DONTWAIT), ssize_t(-1));
        QVERIFY(!Deliver({}));
    }

    void dataBlockToAResetBrowserEndsTheWait()
    {
        const int fd = Connect();
        QVERIFY(Hub().m_pClientSocket);
        linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        std::vector<uint8_t> block(8 * 1024 * 1024, 'y');
        block[0] = CServiceRelay::TAG_DATA;
        std::thread closer([fd] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ::close(fd);
        });
        m_clients.pop_back();
        QVERIFY(!Deliver(block));
        closer.join();
        // The connection stays in service; only its block was lost.
        QVERIFY(Hub().m_pClientSocket);
    }

    void controlBlockFinishesTheConnectionAndTakesTheNext()
    {
        const int first = Connect();
        const int second = Connect();
        QCOMPARE(Hub().m_pServSocket->m_pending.size(), size_t(1));
        CClientSocket* waiting = Hub().m_pServSocket->m_pending.front().get();
        QVERIFY(Deliver({CServiceRelay::TAG_CONTROL}));
        QVERIFY(PeerClosed(first));
        QCOMPARE(Hub().m_pClientSocket.get(), waiting);
        QVERIFY(Hub().m_pServSocket->m_pending.empty());

        // With none in service, the block still takes the oldest waiting one.
        Connect();
        QCOMPARE(Hub().m_pServSocket->m_pending.size(), size_t(1));
        waiting = Hub().m_pServSocket->m_pending.front().get();
        Hub().m_pClientSocket.reset();
        QVERIFY(PeerClosed(second));
        QVERIFY(Deliver({CServiceRelay::TAG_CONTROL}));
        QCOMPARE(Hub().m_pClientSocket.get(), waiting);
    }

    void deliveryFromAnotherThreadWaitsUntilHandled()
    {
        const int fd = Connect();
        QVERIFY(Hub().m_pClientSocket);
        std::atomic<bool> returned{false};
        std::atomic<ssize_t> seen{-2};
        std::thread sender([&] {
            const uint8_t block[] = {CServiceRelay::TAG_DATA, 'o', 'k'};
            m_pApp->DeliverToMainWindow(block, sizeof block);
            char buf[4];
            seen = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            returned = true;
        });
        QVERIFY(WaitUntil([&] { return returned.load(); }));
        sender.join();
        QCOMPARE(seen.load(), ssize_t(2));
    }

    void deliveryAfterTheWindowClosedReturnsAtOnce()
    {
        Frame().close();
        QVERIFY(!m_pApp->HasMainWindow());
        const uint8_t block[] = {CServiceRelay::TAG_CONTROL};
        // Nobody runs the event loop now: a delivery that waited for it would hang.
        auto done = std::async(std::launch::async, [&] { m_pApp->DeliverToMainWindow(block, sizeof block); });
        QCOMPARE(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    }

    void relayEventsSwitchTheMode()
    {
        // Dialling: the status page comes again, as a reload of the same address.
        QVERIFY(Deliver(EventBlock(CServiceRelay::STATE_DIALLING)));
        QCOMPARE(View().m_strLastUrl, StatusUrl());

        // Connected: the switch is posted, so it has not happened on return.
        QVERIFY(Deliver(EventBlock(CServiceRelay::STATE_CONNECTED)));
        QCOMPARE(Hub().m_nMode.load(), int(CServiceRelay::MODE_OFFLINE));
        QVERIFY(WaitUntil([&] { return Hub().m_nMode == CServiceRelay::MODE_TUNNEL; }));
        QCOMPARE(View().m_strLastUrl, DeviceUrl());

        // Codes 4 and 5 change nothing.
        for (int code : {int(CServiceRelay::STATE_FAILED), int(CServiceRelay::STATE_CONNECTING)}) {
            QVERIFY(Deliver(EventBlock(code)));
            WaitUntil([] { return false; }, 50);
            QCOMPARE(Hub().m_nMode.load(), int(CServiceRelay::MODE_TUNNEL));
            QCOMPARE(View().m_strLastUrl, DeviceUrl());
        }

        // The call ends: the switch back is posted too.
        QVERIFY(Deliver(EventBlock(CServiceRelay::STATE_READY, 0x3490)));
        QCOMPARE(Hub().m_nMode.load(), int(CServiceRelay::MODE_TUNNEL));
        QVERIFY(WaitUntil([&] { return Hub().m_nMode == CServiceRelay::MODE_OFFLINE; }));
        QCOMPARE(View().m_strLastUrl, StatusUrl());
        // The browser's own new connection for the status page is served offline.
        QVERIFY(WaitForPageText(View(), "ISDN Status:"));
    }

    void tunnelDownDropsEveryBrowserConnection()
    {
        Frame().OnTunnelUp();
        QCOMPARE(Hub().m_nMode.load(), int(CServiceRelay::MODE_TUNNEL));
        View().StopNavigation();
        const int clients[] = {Connect(), Connect(), Connect()};
        QVERIFY(Hub().m_pClientSocket);
        QVERIFY(Hub().m_pServSocket->m_pending.size() >= 2);
        Frame().OnTunnelDown();
        QCOMPARE(Hub().m_nMode.load(), int(CServiceRelay::MODE_OFFLINE));
        QVERIFY(!Hub().m_pClientSocket);
        QVERIFY(Hub().m_pServSocket->m_pending.empty());
        for (int fd : clients)
            QVERIFY(PeerClosed(fd));
        // The next connection, the browser's own for the status page, is answered offline.
        QVERIFY(WaitForPageText(View(), "ISDN Status: Fehler"));
    }

    void tunnelDownInOfflineModeKeepsWaitingConnections()
    {
        View().StopNavigation();
        Connect();
        Connect();
        QCOMPARE(Hub().m_pServSocket->m_pending.size(), size_t(1));
        QVERIFY(Deliver(EventBlock(CServiceRelay::STATE_DISCONNECTING)));
        QVERIFY(WaitUntil([&] { return View().IsBusy(); }, 5000));
        QVERIFY(Hub().m_pServSocket->m_pending.size() >= 1);
        QCOMPARE(View().m_strLastUrl, StatusUrl());
    }

    void statusBarPanes()
    {
        QLabel* isdn = Frame().Pane(S::IDS_ISDN_PANE);
        QLabel* socket = Frame().Pane(S::IDS_SOCKET_PANE);
        QVERIFY(isdn && socket);
        const int isdnWidth = isdn->width();
        const int socketWidth = socket->width();
        QVERIFY(isdnWidth > socketWidth);

        const QString port = QString("Socket %1 ready").arg(Hub().GetListenPort());
        QVERIFY(WaitUntil([&] { return socket->text() == port; }, 5000));
        QCOMPARE(isdn->text(), QString("Fehler"));

        // Idle updates follow the hub without being told.
        Hub().m_strNumber = "0123";
        Hub().m_nState = CServiceRelay::STATE_DIALLING;
        QVERIFY(WaitUntil([&] { return isdn->text() == QString::fromUtf8("W\xC3\xA4hle ...  0123"); }, 5000));
        Hub().m_strNumber = std::string(60, '9');
        QVERIFY(WaitUntil([&] { return isdn->text().endsWith("9999"); }, 5000));
        QCOMPARE(isdn->width(), isdnWidth);

        // Before there is a hub: port 0 and no status.
        CKestrinApp bare(m_capi);
        CKestrinDoc doc(bare);
        QLabel pane;
        CCmdUI socketUi(S::IDS_SOCKET_PANE, pane);
        doc.OnUpdateSocketPane(socketUi);
        QCOMPARE(pane.text(), QString("Socket 0 ready"));
        CCmdUI isdnUi(S::IDS_ISDN_PANE, pane);
        doc.OnUpdateIsdnPane(isdnUi);
        QCOMPARE(pane.text(), QString());
    }

    void lockKeyPanesFollowTheKeyboard()
    {
#if KESTRIN_TEST_X11
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        Display* display = x11 ? x11->display() : nullptr;
        if (!display)
            QSKIP("no X11 display");
        QLabel* caps = Frame().Pane(S::ID_INDICATOR_CAPS);
        QVERIFY(caps);
        // The panes are read again after a key event, however busy the loop is.
        for (bool on : {true, false, true, false}) {
            XkbLockModifiers(display, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
            XSync(display, False);
            QTest::keyClick(&Frame(), Qt::Key_Shift);
            QVERIFY2(WaitUntil([&] { return caps->text() == (on ? QString("CAP") : QString()); }, 5000),
                     on ? "caps lock on" : "caps lock off");
        }
#else
        QSKIP("built without X11");
#endif
    }

    void navigateReloadsTheSameAddressAndNavigatesAnew()
    {
        RequestLog log;
        View().Profile()->setUrlRequestInterceptor(&log);
        const QString status = QString::fromStdString(StatusUrl()).replace('\\', '/');

        View().NavigateTo(StatusUrl());
        QVERIFY(WaitUntil([&] { return !log.Entries().empty() && !View().IsBusy(); }));
        QCOMPARE(log.Entries().front().type, QWebEngineUrlRequestInfo::NavigationTypeReload);
        QCOMPARE(log.Entries().front().url.toString(), status);

        log.Clear();
        View().NavigateTo(DeviceUrl());
        QCOMPARE(View().m_strLastUrl, DeviceUrl());
        QVERIFY(WaitUntil([&] { return !log.Entries().empty() && !View().IsBusy(); }));
        QVERIFY(log.Entries().front().type != QWebEngineUrlRequestInfo::NavigationTypeReload);
        QCOMPARE(View().page()->history()->count(), 1);

        // A browser still busy after the wait is stopped, and the same address
        // then gets a fresh navigation: a listener that never answers keeps it busy.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
        QVERIFY(::listen(silent, 5) == 0);
        getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len);
        const std::string hanging = "http:\\\\localhost:" + std::to_string(ntohs(addr.sin_port)) + "/slow";
        View().NavigateTo(hanging);
        QVERIFY(WaitUntil([&] { return View().IsBusy(); }));
        log.Clear();
        View().NavigateTo(hanging);
        QCOMPARE(View().m_strLastUrl, hanging);
        QVERIFY(WaitUntil([&] { return !log.Entries().empty(); }));
        QVERIFY(log.Entries().front().type != QWebEngineUrlRequestInfo::NavigationTypeReload);
        View().StopNavigation();
        View().Profile()->setUrlRequestInterceptor(nullptr);
        ::close(silent);
    }

    void pageClosingTheWindowHangsUp_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("disconnects");
        for (int state = 0; state <= 6; ++state)
            QTest::newRow(qPrintable(QString("state %1").arg(state))) << state << (state >= 2 && state <= 5 ? 1 : 0);
    }
    void pageClosingTheWindowHangsUp()
    {
        QFETCH(int, state);
        QFETCH(int, disconnects);
        Hub().Dial("0815", nullptr);
        QVERIFY(m_capi.m_pLast);
        Hub().m_nState = state;
        // A second page first: the history must still hold one entry for the close to reach us.
        QVERIFY(NavigateAndWait(View(), DeviceUrl()));
        QCOMPARE(View().page()->history()->count(), 1);
        QSignalSpy closing(View().page(), &QWebEnginePage::windowCloseRequested);
        View().page()->runJavaScript("window.close();");
        QVERIFY(closing.wait(10000));
        QCOMPARE(m_capi.m_pLast->m_nDisconnects.load(), disconnects);
        QVERIFY(Frame().isVisible());
        QVERIFY(m_pApp->HasMainWindow());
    }
};

int main(int argc, char** argv)
{
    return RunGuiTest(argc, argv, [] { return new FrameTest; });
}

#include "FrameTest.moc"
