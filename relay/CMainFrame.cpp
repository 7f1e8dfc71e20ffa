#include "relay/CMainFrame.h"

#include "app/CKestrinApp.h"
#include "http/CClientSocket.h"
#include "http/CServSocket.h"
#include "platform/CMainThreadMessenger.h"
#include "relay/CServiceRelay.h"
#include "res/CAcceleratorResource.h"
#include "res/CAppIcon.h"
#include "res/CMenuResource.h"
#include "res/CStringTable.h"
#include "ui/CCmdUI.h"
#include "ui/CKestrinDoc.h"
#include "ui/CKestrinView.h"
#include "ui/CLockKeyState.h"
#include "ui/CStatusPane.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QPixmap>
#include <QPointer>
#include <QStatusBar>

#include <chrono>
#include <cstring>
#include <thread>

namespace {
QString Text(int id)
{
    return QString::fromUtf8(CStringTable::Get(id));
}

// A command's prompt: the status-bar text before the line feed, the short name after it.
void ApplyPrompt(QAction& action, int id)
{
    const QString prompt = Text(id);
    if (prompt.isEmpty())
        return;
    const qsizetype lf = prompt.indexOf('\n');
    action.setStatusTip(lf < 0 ? prompt : prompt.left(lf));
    if (lf >= 0)
        action.setToolTip(prompt.mid(lf + 1));
}

// Commands that the program has no handler for; the framework greys them out.
bool IsUnhandled(int id)
{
    using S = CStringTable;
    return id == S::ID_EDIT_UNDO || id == S::ID_EDIT_CUT || id == S::ID_EDIT_COPY || id == S::ID_EDIT_PASTE ||
           id == S::ID_FILE_MRU_FILE1;
}
}

const std::vector<int>& CMainFrame::Indicators()
{
    using S = CStringTable;
    static const std::vector<int> ids = {0, S::IDS_ISDN_PANE, S::IDS_SOCKET_PANE, S::ID_INDICATOR_CAPS,
                                         S::ID_INDICATOR_NUM, S::ID_INDICATOR_SCRL};
    return ids;
}

CMainFrame::CMainFrame(CKestrinApp& app, CKestrinDoc& doc) : m_app(app), m_doc(doc) {}

CMainFrame::~CMainFrame()
{
    if (qApp)
        qApp->removeEventFilter(this);
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread()))
        disconnect(dispatcher, nullptr, this, nullptr);
}

bool CMainFrame::Create()
{
    setWindowIcon(QIcon(QPixmap(CAppIcon::Xpm())));
    // The view is a child of the window, which deletes it.
    m_pView = new CKestrinView(m_app, this);
    setCentralWidget(m_pView);
    CreateMenus();
    CreateAccelerators();
    if (!CreateStatusBar())
        return false;
    UpdateTitle();
    resize(800, 600);
    // Idle time is when the loop is about to wait: no timer wakes an idle program.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread());
    if (!dispatcher)
        return false;
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CMainFrame::OnUpdateIdle);
    if (qApp)
        qApp->installEventFilter(this);
    return true;
}

QAction* CMainFrame::MakeAction(int id, const char* text)
{
    auto it = m_actions.find(id);
    if (it != m_actions.end())
        return it->second;
    // Actions are children of the window, which deletes them.
    auto* action = new QAction(QString::fromUtf8(text ? text : ""), this);
    action->setData(id);
    ApplyPrompt(*action, id);
    action->setEnabled(!IsUnhandled(id));
    connect(action, &QAction::triggered, this, [this, id] { RouteCommand(id); });
    m_actions[id] = action;
    return action;
}

void CMainFrame::CreateMenus()
{
    for (const CMenuResource::Popup& popup : CMenuResource::MainMenu()) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(popup.title));
        for (const CMenuResource::Item& item : popup.items) {
            if (item.id == 0)
                menu->addSeparator();
            else
                menu->addAction(MakeAction(item.id, item.text));
        }
    }
}

void CMainFrame::CreateAccelerators()
{
    std::map<int, QList<QKeySequence>> keys;
    for (const CAcceleratorResource::Entry& entry : CAcceleratorResource::MainAccelerators())
        keys[entry.id].append(QKeySequence(QString::fromLatin1(entry.keys), QKeySequence::PortableText));
    for (const auto& [id, sequences] : keys) {
        QAction* action = MakeAction(id, nullptr);
        action->setShortcuts(sequences);
        action->setShortcutContext(Qt::WindowShortcut);
        // Commands without a menu entry need the window to see their keys.
        addAction(action);
    }
    // Reached only through the command routing: no menu entry, key or button.
    MakeAction(CStringTable::ID_SHOW_DEVICE_PAGE, nullptr);
    MakeAction(CStringTable::ID_FILE_PRINT_DIRECT, nullptr);
    MakeAction(CStringTable::ID_FILE_PRINT_PREVIEW, nullptr);
}

bool CMainFrame::CreateStatusBar()
{
    // The status bar belongs to the window once set.
    auto* bar = new QStatusBar(this);
    bar->setObjectName(QString::number(CStringTable::AFX_IDW_STATUS_BAR));
    setStatusBar(bar);
    for (int id : Indicators()) {
        // Panes belong to the status bar.
        QLabel* pane = nullptr;
        if (id == 0) {
            // The prompt pane: menu prompts replace it while they show.
            pane = new QLabel(Text(CStringTable::AFX_IDS_IDLEMESSAGE), bar);
            pane->setTextFormat(Qt::PlainText);
            bar->addWidget(pane, 1);
        } else {
            // Sized by the pane's own string, which it shows until the first idle update.
            pane = new CStatusPane(Text(id), bar);
            bar->addPermanentWidget(pane);
        }
        pane->setObjectName(QString::number(id));
        m_panes[id] = pane;
    }
    return m_panes.size() == Indicators().size();
}

QAction* CMainFrame::Action(int id) const
{
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

QLabel* CMainFrame::Pane(int indicatorId) const
{
    auto it = m_panes.find(indicatorId);
    return it == m_panes.end() ? nullptr : it->second;
}

void CMainFrame::OnUpdateIdle()
{
    using S = CStringTable;
    if (QLabel* pane = Pane(S::IDS_SOCKET_PANE)) {
        CCmdUI ui(S::IDS_SOCKET_PANE, *pane);
        m_doc.OnUpdateSocketPane(ui);
    }
    if (QLabel* pane = Pane(S::IDS_ISDN_PANE)) {
        CCmdUI ui(S::IDS_ISDN_PANE, *pane);
        m_doc.OnUpdateIsdnPane(ui);
    }
    if (!CLockKeyState::IsKnown())
        return;
    // Each reading is three round trips to the X server, and the loop goes
    // idle after every block the device sends: read only when a key may
    // have changed them, or now and then for changes made elsewhere.
    const auto now = std::chrono::steady_clock::now();
    if (!m_bLockKeysStale && now - m_tLockKeysRead < std::chrono::milliseconds(LOCK_KEY_REFRESH_MS))
        return;
    m_bLockKeysStale = false;
    m_tLockKeysRead = now;
    static const std::pair<int, CLockKeyState::Key> locks[] = {{S::ID_INDICATOR_CAPS, CLockKeyState::KEY_CAPS},
                                                               {S::ID_INDICATOR_NUM, CLockKeyState::KEY_NUM},
                                                               {S::ID_INDICATOR_SCRL, CLockKeyState::KEY_SCROLL}};
    for (const auto& [id, key] : locks) {
        if (QLabel* pane = Pane(id)) {
            CCmdUI ui(id, *pane);
            const bool on = CLockKeyState::IsOn(key);
            ui.Enable(on);
            ui.SetText(on ? S::Get(id) : "");
        }
    }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ApplicationStateChange:
    case QEvent::WindowActivate:
        m_bLockKeysStale = true;
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::RouteCommand(int id)
{
    using S = CStringTable;
    switch (id) {
    case S::ID_FILE_NEW:
        m_doc.OnNewDocument();
        UpdateTitle();
        break;
    case S::ID_FILE_OPEN:
        OnFileOpen();
        break;
    case S::ID_FILE_SAVE:
        OnFileSave();
        break;
    case S::ID_FILE_SAVE_AS:
        OnFileSaveAs();
        break;
    case S::ID_APP_EXIT:
        m_app.OnAppExit();
        break;
    case S::ID_APP_ABOUT:
        m_app.OnAppAbout();
        break;
    case S::ID_CALL_CONNECT:
        m_pView->OnConnect();
        break;
    case S::ID_CALL_DISCONNECT:
        m_pView->OnDisconnect();
        break;
    case S::ID_SHOW_DEVICE_PAGE:
        m_pView->OnShowDevicePage();
        break;
    case S::ID_FILE_PRINT:
    case S::ID_FILE_PRINT_DIRECT:
        m_pView->OnFilePrint();
        break;
    case S::ID_FILE_PRINT_PREVIEW:
        m_pView->OnFilePrintPreview();
        break;
    case S::ID_NEXT_PANE:
    case S::ID_PREV_PANE:
        // A single pane: the view is both the next and the previous one.
        m_pView->setFocus(Qt::TabFocusReason);
        break;
    default:
        break;
    }
}

void CMainFrame::UpdateTitle()
{
    const QString app = Text(CStringTable::AFX_IDS_APP_TITLE);
    if (m_doc.m_strPathName.empty())
        setWindowTitle(app);
    else
        setWindowTitle(QFileInfo(QString::fromStdString(m_doc.m_strPathName)).fileName() + " - " + app);
}

void CMainFrame::OnFileOpen()
{
    const QString path = QFileDialog::getOpenFileName(this);
    if (!path.isEmpty() && m_doc.OnOpenDocument(path.toStdString()))
        UpdateTitle();
}

bool CMainFrame::OnFileSaveAs()
{
    const QString path = QFileDialog::getSaveFileName(this);
    if (path.isEmpty() || !m_doc.OnSaveDocument(path.toStdString()))
        return false;
    UpdateTitle();
    return true;
}

void CMainFrame::OnFileSave()
{
    if (m_doc.m_strPathName.empty() || !m_doc.OnSaveDocument(m_doc.m_strPathName))
        OnFileSaveAs();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Closing saves nothing; only "&Beenden" writes the profile before it gets here.
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        m_app.OnMainWindowClosed();
}

void CMainFrame::StopView()
{
    if (m_pView)
        m_pView->StopNavigation();
}

void CMainFrame::NavigateView(const std::string& url)
{
    if (m_pView)
        m_pView->NavigateTo(url);
}

bool CMainFrame::OnCopyData(QWidget*, const CopyData* pCopyDataStruct)
{
    if (!pCopyDataStruct || !pCopyDataStruct->lpData || pCopyDataStruct->cbData < 1)
        return false;
    CServiceRelay* hub = m_app.m_pServiceRelay.get();
    if (!hub)
        return false;
    const auto* block = static_cast<const uint8_t*>(pCopyDataStruct->lpData);
    const int length = pCopyDataStruct->cbData;

    switch (block[0]) {
    case CServiceRelay::TAG_DATA: {
        if (!hub->m_pClientSocket || length == 1)
            return false;
        // The whole payload goes out: while the browser's socket is full the
        // send waits for it to drain, and a closed connection ends the wait.
        const int payload = length - 1;
        return hub->m_pClientSocket->SendAll(block + 1, payload, SEND_STALL_TIMEOUT_MS) == payload;
    }
    case CServiceRelay::TAG_CONTROL:
        if (hub->m_pClientSocket)
            hub->CloseGracefully(std::move(hub->m_pClientSocket));
        hub->m_pClientSocket = nullptr;
        hub->ActivateNextConnection();
        return true;
    case CServiceRelay::TAG_EVENT: {
        if (length < 8)
            return false;
        int32_t code = 0;
        std::memcpy(&code, block + 4, sizeof code);
        const std::string statusUrl =
            CStringTable::Format(CStringTable::Get(CStringTable::IDS_STATUS_URL), static_cast<int>(hub->GetListenPort()));
        // The mode switches run after this delivery has returned, never inside it.
        QPointer<CMainFrame> self(this);
        CMainThreadMessenger* messenger = m_app.GetMessenger();
        switch (code) {
        case CServiceRelay::STATE_READY:
        case CServiceRelay::STATE_DISCONNECTING:
            StopView();
            if (messenger)
                messenger->Post([self] {
                    if (self)
                        self->OnTunnelDown();
                });
            break;
        case CServiceRelay::STATE_DIALLING:
            std::this_thread::sleep_for(std::chrono::milliseconds(DIAL_PAGE_DELAY_MS));
            NavigateView(statusUrl);
            break;
        case CServiceRelay::STATE_CONNECTED:
            if (messenger)
                messenger->Post([self] {
                    if (self)
                        self->OnTunnelUp();
                });
            break;
        default:
            break;
        }
        return true;
    }
    default:
        return false;
    }
}

long CMainFrame::OnTunnelUp()
{
    CServiceRelay* hub = m_app.m_pServiceRelay.get();
    if (!hub)
        return 0;
    StopView();
    hub->m_nMode = CServiceRelay::MODE_TUNNEL;
    NavigateView(CStringTable::Format(CStringTable::Get(CStringTable::IDS_DEVICE_URL), static_cast<int>(hub->GetListenPort())));
    return 0;
}

long CMainFrame::OnTunnelDown()
{
    CServiceRelay* hub = m_app.m_pServiceRelay.get();
    if (!hub)
        return 0;
    const std::string url =
        CStringTable::Format(CStringTable::Get(CStringTable::IDS_STATUS_URL), static_cast<int>(hub->GetListenPort()));
    if (hub->m_nMode != CServiceRelay::MODE_OFFLINE) {
        hub->m_nMode = CServiceRelay::MODE_OFFLINE;
        hub->m_pClientSocket.reset();
        if (hub->m_pServSocket)
            hub->m_pServSocket->DiscardPending();
    }
    NavigateView(url);
    return 0;
}
