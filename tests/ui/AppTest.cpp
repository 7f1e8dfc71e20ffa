// The application object: start-up order and its failures, the profile kept
// by "&Beenden" and only by it, the window rectangle rules, the command line
// as start-up uses it, and a picture of the real window.

#include "CFakeCapiProvider.h"
#include "UiTestSupport.h"

#include "app/CKestrinApp.h"
#include "platform/CSocketApi.h"
#include "relay/CMainFrame.h"
#include "relay/CServiceRelay.h"
#include "res/CStringTable.h"
#include "ui/CKestrinView.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <cerrno>
#include <memory>

namespace {
using S = CStringTable;

QSettings Profile()
{
    return QSettings(CKestrinApp::ORGANIZATION, CKestrinApp::APPLICATION);
}

// An application whose platform checks fail as told.
class CFailingApp : public CKestrinApp {
public:
    enum Failure { FAIL_SOCKETS, FAIL_BROWSER };
    CFailingApp(ICapiProvider& capi, Failure failure) : CKestrinApp(capi), m_failure(failure) {}

protected:
    bool InitSockets() override { return m_failure != FAIL_SOCKETS && CKestrinApp::InitSockets(); }
    bool InitBrowserRuntime() override { return m_failure != FAIL_BROWSER && CKestrinApp::InitBrowserRuntime(); }

private:
    Failure m_failure;
};

// The operating system without sockets.
class CNoSockets : public CSocketApi {
public:
    int Socket(int, int, int) override
    {
        errno = EAFNOSUPPORT;
        return -1;
    }
};

struct Box {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool windowExisted = false;
    bool hubExisted = false;
};

// Answers the next message box with OK and reports what it showed.
void AnswerNextBox(Box& box, const CKestrinApp* app = nullptr)
{
    OnNextModal([&box, app](QWidget* modal) {
        auto* message = qobject_cast<QMessageBox*>(modal);
        if (!message) {
            modal->close();
            return;
        }
        box.title = message->windowTitle();
        box.text = message->text();
        box.icon = message->icon();
        if (app) {
            box.windowExisted = app->GetMainWnd() != nullptr;
            box.hubExisted = app->m_pServiceRelay != nullptr;
        }
        message->button(QMessageBox::Ok)->click();
    });
}
}

class AppTest : public QObject {
    Q_OBJECT
private:
    CFakeCapiProvider m_capi;
    std::unique_ptr<CKestrinApp> m_pApp;

    CKestrinApp& Start(const QStringList& args = {"kestrin"})
    {
        m_pApp = std::make_unique<CKestrinApp>(m_capi);
        [&] { QVERIFY(m_pApp->InitInstance(args)); }();
        return *m_pApp;
    }

private slots:
    void init()
    {
        UsePrivateProfile();
        m_capi = CFakeCapiProvider();
    }
    void cleanup() { m_pApp.reset(); }

    void showsTheStatusPageWithTheDriverMissing()
    {
        CKestrinApp& app = Start();
        CMainFrame* frame = app.GetMainWnd();
        QVERIFY(frame && frame->isVisible());
        QCOMPARE(frame->windowTitle(), QString("Kestrin"));
        QVERIFY(WaitForPageText(*frame->GetActiveView(), "ISDN Status: Fehler"));
        // Let the status bar catch up and the page paint, then take the screen as the user sees it.
        WaitUntil([] { return false; }, 500);
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, frame->frameGeometry().x(),
                                                                         frame->frameGeometry().y(),
                                                                         frame->frameGeometry().width(),
                                                                         frame->frameGeometry().height());
        QVERIFY(!shot.isNull());
        QVERIFY(shot.save(QDir::current().filePath("kestrin-window.png")));
    }

    void startupFailureShowsItsMessageAndEnds_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("message");
        QTest::newRow("sockets") << int(CFailingApp::FAIL_SOCKETS) << int(S::IDS_SOCKETS_INIT_FAILED);
        QTest::newRow("browser runtime") << int(CFailingApp::FAIL_BROWSER) << int(S::IDS_OLE_INIT_FAILED);
    }
    void startupFailureShowsItsMessageAndEnds()
    {
        QFETCH(int, failure);
        QFETCH(int, message);
        Profile().setValue("DialParms/OwnMSN", "77");
        CFailingApp app(m_capi, static_cast<CFailingApp::Failure>(failure));
        Box box;
        AnswerNextBox(box);
        QVERIFY(!app.InitInstance({"kestrin", "-d", "123"}));
        QCOMPARE(box.text, QString::fromUtf8(S::Get(message)));
        QCOMPARE(box.title, QString("Kestrin"));
        QVERIFY(!app.GetMainWnd());
        QVERIFY(!app.m_pServiceRelay);
        QCOMPARE(Profile().allKeys(), QStringList{"DialParms/OwnMSN"});
    }

    void socketCheckAsksTheSystem()
    {
        CNoSockets noSockets;
        CSocketApi::Install(&noSockets);
        CKestrinApp app(m_capi);
        Box box;
        AnswerNextBox(box);
        const bool started = app.InitInstance({"kestrin"});
        CSocketApi::Install(nullptr);
        QVERIFY(!started);
        QCOMPARE(box.text, QString::fromUtf8(S::Get(S::IDS_SOCKETS_INIT_FAILED)));
    }

    void exitSavesTheProfileAndClosingDoesNot()
    {
        CKestrinApp& app = Start();
        QVERIFY(Profile().allKeys().isEmpty());
        app.m_strOwnMSN = "4711";
        app.GetMainWnd()->close();
        QVERIFY(Profile().allKeys().isEmpty());
        QVERIFY(!app.HasMainWindow());
        m_pApp.reset();
        QVERIFY(Profile().allKeys().isEmpty());

        CKestrinApp& second = Start();
        second.m_strOwnMSN = "4711";
        const QRect outer = second.GetMainWnd()->frameGeometry();
        second.GetMainWnd()->Action(S::ID_APP_EXIT)->trigger();
        QVERIFY(!second.GetMainWnd()->isVisible());
        QVERIFY(!second.HasMainWindow());
        QSettings profile = Profile();
        QCOMPARE(profile.value("DialParms/OwnMSN").toString(), QString("4711"));
        QCOMPARE(profile.value("Settings/Left").toInt(), outer.x());
        QCOMPARE(profile.value("Settings/Top").toInt(), outer.y());
        QCOMPARE(profile.value("Settings/Right").toInt(), outer.x() + outer.width());
        QCOMPARE(profile.value("Settings/Bottom").toInt(), outer.y() + outer.height());
    }

    void exitSavesEvenWhenNothingChanged()
    {
        {
            QSettings profile = Profile();
            profile.setValue("DialParms/OwnMSN", "0301234");
            profile.setValue("Settings/Left", 40);
            profile.setValue("Settings/Top", 30);
            profile.setValue("Settings/Right", 740);
            profile.setValue("Settings/Bottom", 530);
        }
        CKestrinApp& app = Start();
        QCOMPARE(app.m_strOwnMSN, std::string("0301234"));
        // What start-up read is gone from the store; only a real save brings it back.
        Profile().clear();
        Profile().sync();
        app.OnAppExit();
        QSettings profile = Profile();
        QCOMPARE(profile.value("DialParms/OwnMSN").toString(), QString("0301234"));
        QCOMPARE(profile.value("Settings/Left").toInt(), 40);
        QCOMPARE(profile.value("Settings/Top").toInt(), 30);
        QCOMPARE(profile.value("Settings/Right").toInt(), 740);
        QCOMPARE(profile.value("Settings/Bottom").toInt(), 530);
    }

    void savedRectangleIsRestoredOnlyWhenComplete_data()
    {
        QTest::addColumn<QRect>("saved");  // left, top, right, bottom as stored
        QTest::addColumn<bool>("restored");
        QTest::newRow("all set") << QRect(QPoint(100, 120), QPoint(740, 600)) << true;
        QTest::newRow("negative") << QRect(QPoint(-30, -20), QPoint(590, 460)) << true;
        QTest::newRow("left 0") << QRect(QPoint(0, 120), QPoint(740, 600)) << false;
        QTest::newRow("top 0") << QRect(QPoint(100, 0), QPoint(740, 600)) << false;
        QTest::newRow("right 0") << QRect(QPoint(100, 120), QPoint(0, 600)) << false;
        QTest::newRow("bottom 0") << QRect(QPoint(100, 120), QPoint(740, 0)) << false;
    }
    void savedRectangleIsRestoredOnlyWhenComplete()
    {
        QFETCH(QRect, saved);
        QFETCH(bool, restored);
        {
            QSettings profile = Profile();
            profile.setValue("Settings/Left", saved.left());
            profile.setValue("Settings/Top", saved.top());
            profile.setValue("Settings/Right", saved.right());
            profile.setValue("Settings/Bottom", saved.bottom());
        }
        CKestrinApp& app = Start();
        const QRect outer = app.GetMainWnd()->frameGeometry();
        const QRect expected(saved.left(), saved.top(), saved.right() - saved.left(), saved.bottom() - saved.top());
        if (restored) {
            QCOMPARE(outer, expected);
        } else {
            QVERIFY(outer.size() != expected.size());
            QCOMPARE(outer.size(), QSize(800, 600));
        }
    }

    void helpComesAfterTheWindowAndBeforeTheHub()
    {
        m_pApp = std::make_unique<CKestrinApp>(m_capi);
        Box box;
        AnswerNextBox(box, m_pApp.get());
        QVERIFY(m_pApp->InitInstance({"kestrin", "-?"}));
        QCOMPARE(box.text, QString::fromUtf8(S::Get(S::IDS_HELP)));
        QCOMPARE(box.icon, QMessageBox::Information);
        QVERIFY(box.windowExisted);
        QVERIFY(!box.hubExisted);
        QVERIFY(m_pApp->m_pServiceRelay);
        QVERIFY(m_pApp->GetMainWnd()->isVisible());
        QVERIFY(!m_capi.m_pLast);
    }

    void numberOnTheCommandLineIsDialledWithoutOwnNumber()
    {
        Profile().setValue("DialParms/OwnMSN", "999");
        CKestrinApp& app = Start({"kestrin", "-d", "12", "3"});
        QCOMPARE(app.m_strOwnMSN, std::string("999"));
        QVERIFY(m_capi.m_pLast);
        const auto calls = m_capi.m_pLast->Connects();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(calls[0].number.value_or("<null>"), std::string("123"));
        QVERIFY(!calls[0].ownNumber.has_value());
        QCOMPARE(app.m_pServiceRelay->m_strNumber, std::string("123"));
    }

    void quittingWhileDataFlowsEnds_data()
    {
        QTest::addColumn<bool>("byExitCommand");
        QTest::newRow("Beenden") << true;
        QTest::newRow("close button") << false;
    }
    void quittingWhileDataFlowsEnds()
    {
        QFETCH(bool, byExitCommand);
        CKestrinApp& app = Start({"kestrin", "-d", "0301"});
        CServiceRelay& hub = *app.m_pServiceRelay;
        CFakeCapiControl* control = m_capi.m_pLast;
        QVERIFY(control);
        // The call is up: the tunnel carries the browser's request out and the device's data in.
        hub.m_nState = CServiceRelay::STATE_CONNECTED;
        app.GetMainWnd()->OnTunnelUp();
        QVERIFY(WaitUntil([&] { return hub.m_pClientSocket != nullptr; }));
        control->Flood(&app);
        QVERIFY(WaitUntil([&] { return control->m_nDelivered > 50; }));
        if (byExitCommand)
            app.GetMainWnd()->Action(S::ID_APP_EXIT)->trigger();
        else
            app.GetMainWnd()->close();
        QVERIFY(!app.HasMainWindow());
        // The end of the run: no event loop any more, and every thread must let go.
        m_pApp.reset();
    }

    void plainArgumentsOpenNothing()
    {
        CKestrinApp& app = Start({"kestrin", "somefile.txt", "-d"});
        QVERIFY(!m_capi.m_pLast);
        QCOMPARE(app.GetMainWnd()->windowTitle(), QString("Kestrin"));
    }
};

int main(int argc, char** argv)
{
    return RunGuiTest(argc, argv, [] { return new AppTest; });
}

#include "AppTest.moc"
