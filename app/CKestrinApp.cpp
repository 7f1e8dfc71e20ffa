#include "app/CKestrinApp.h"

#include "app/CAboutDlg.h"
#include "app/CKestrinCommaldLineInfo.h"
#include "platform/CMainThreadMessenger.h"
#include "platform/CSocketApi.h"
#include "relay/CMainFrame.h"
#include "relay/CServiceRelay.h"
#include "res/CStringTable.h"
#include "ui/CKestrinDoc.h"
#include "ui/CKestrinView.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSettings>

#include <netinet/in.h>
#include <unistd.h>

namespace {
QString Text(int id)
{
    return QString::fromUtf8(CStringTable::Get(id));
}
}

CKestrinApp::CKestrinApp(ICapiProvider& capi) : m_capi(capi) {}

CKestrinApp::~CKestrinApp()
{
    // Deliveries first: a thread of the hub that reports from now on returns at
    // once. Then the windows, then the hub, whose threads may still be calling
    // into this object and the messenger until it has joined them.
    if (m_pMessenger)
        m_pMessenger->Close();
    m_bWindowUp = false;
    m_pMainFrame.reset();
    m_pDocument.reset();
    m_pServiceRelay.reset();
    m_pMessenger.reset();
}

void CKestrinApp::PrepareProcess()
{
    // Chromium's sandbox refuses to run as root; a normal user keeps it.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

bool CKestrinApp::InitInstance(const QStringList& arguments)
{
    // Steps 1, 2 and 5 (common controls, the framework's base start-up, hosting
    // of embedded controls) have nothing to do on this platform.
    m_pMessenger = std::make_unique<CMainThreadMessenger>();

    if (!InitSockets()) {
        ShowStartupFailure(CStringTable::IDS_SOCKETS_INIT_FAILED);
        return false;
    }
    if (!InitBrowserRuntime()) {
        ShowStartupFailure(CStringTable::IDS_OLE_INIT_FAILED);
        return false;
    }

    QSettings profile(ORGANIZATION, APPLICATION);
    m_strOwnMSN = profile.value("DialParms/OwnMSN", QString()).toString().toStdString();
    const int left = profile.value("Settings/Left", 0).toInt();
    const int top = profile.value("Settings/Top", 0).toInt();
    const int right = profile.value("Settings/Right", 0).toInt();
    const int bottom = profile.value("Settings/Bottom", 0).toInt();

    // The single-document template: one document, one frame, one view.
    m_pDocument = std::make_unique<CKestrinDoc>(*this);

    CKestrinCommaldLineInfo cmdInfo;
    std::vector<std::string> args;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    cmdInfo.ParseArguments(args);

    // The shell command: always a new (empty) document with its window, since
    // the program hands no plain argument to the framework.
    m_pMainFrame = std::make_unique<CMainFrame>(*this, *m_pDocument);
    if (!m_pMainFrame->Create()) {
        m_pMainFrame.reset();
        return false;
    }
    m_bWindowUp = true;

    if (cmdInfo.m_bHelp) {
        QMessageBox help(QMessageBox::Information, Text(CStringTable::AFX_IDS_APP_TITLE),
                         Text(CStringTable::IDS_HELP), QMessageBox::Ok, m_pMainFrame.get());
        help.exec();
    }

    m_pServiceRelay = std::make_unique<CServiceRelay>(this, m_capi);

    if (left != 0 && top != 0 && right != 0 && bottom != 0) {
        PlaceMainWindow(QRect(QPoint(left, top), QSize(right - left, bottom - top)));
        m_pMainFrame->repaint();
    }

    m_pMainFrame->show();
    m_pMainFrame->raise();
    m_pMainFrame->activateWindow();
    m_pMainFrame->repaint();

    if (!cmdInfo.m_strNumber.empty())
        m_pServiceRelay->Dial(cmdInfo.m_strNumber.c_str(), nullptr);
    return true;
}

void CKestrinApp::PlaceMainWindow(const QRect& outer)
{
    // The saved values are the outer rectangle; Qt sizes the client area, so
    // the frame's decorations come off the size (none before the window manager
    // has framed the window).
    const QRect frame = m_pMainFrame->frameGeometry();
    const QRect client = m_pMainFrame->geometry();
    const int dw = frame.width() - client.width();
    const int dh = frame.height() - client.height();
    m_pMainFrame->move(outer.topLeft());
    m_pMainFrame->resize(std::max(1, outer.width() - dw), std::max(1, outer.height() - dh));
}

void CKestrinApp::OnAppExit()
{
    QSettings profile(ORGANIZATION, APPLICATION);
    profile.setValue("DialParms/OwnMSN", QString::fromStdString(m_strOwnMSN));
    if (m_pMainFrame) {
        const QRect r = m_pMainFrame->frameGeometry();
        // Right and bottom lie just outside the rectangle, as the window system counts them.
        profile.setValue("Settings/Left", r.x());
        profile.setValue("Settings/Top", r.y());
        profile.setValue("Settings/Right", r.x() + r.width());
        profile.setValue("Settings/Bottom", r.y() + r.height());
    }
    profile.sync();
    if (m_pMainFrame)
        m_pMainFrame->close();
}

void CKestrinApp::OnAppAbout()
{
    CAboutDlg about(m_pMainFrame.get());
    about.exec();
}

void CKestrinApp::OnMainWindowClosed()
{
    m_bWindowUp = false;
    if (m_pMessenger)
        m_pMessenger->Close();
    QCoreApplication::quit();
}

bool CKestrinApp::InitSockets()
{
    CSocketApi& api = CSocketApi::Get();
    const int fd = api.Socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    api.Close(fd);
    return true;
}

bool CKestrinApp::InitBrowserRuntime()
{
    // The browser engine renders in its helper process; without it no page can show.
    QString helper = qEnvironmentVariable("QTWEBENGINE_PROCESS_PATH");
    if (helper.isEmpty())
        helper = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/QtWebEngineProcess";
    const QFileInfo info(helper);
    return info.isFile() && info.isExecutable();
}

void CKestrinApp::ShowStartupFailure(int messageId)
{
    QMessageBox box(QMessageBox::Warning, Text(CStringTable::AFX_IDS_APP_TITLE), Text(messageId), QMessageBox::Ok);
    box.exec();
}

bool CKestrinApp::HasMainWindow() const
{
    return m_bWindowUp && m_pMessenger && !m_pMessenger->IsClosed();
}

void CKestrinApp::DeliverToMainWindow(const uint8_t* block, int length)
{
    if (!m_pMessenger || !m_bWindowUp)
        return;
    m_pMessenger->Send([this, block, length] {
        if (!m_pMainFrame || !m_bWindowUp)
            return;
        CMainFrame::CopyData data{1, length, block};
        m_pMainFrame->OnCopyData(nullptr, &data);
    });
}

IActiveView* CKestrinApp::GetActiveView()
{
    return m_pMainFrame ? m_pMainFrame->GetActiveView() : nullptr;
}
