#pragma once

#include <QMainWindow>

#include <chrono>
#include <map>
#include <string>
#include <vector>

class CKestrinApp;
class CKestrinDoc;
class CKestrinView;
class QAction;
class QLabel;

// The main window: menus, accelerators, the status bar with its six panes
// around the browser view, and the one place where news from the other
// threads reaches the main thread. Every handler runs on the main thread.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // The copy-data descriptor of a delivery: kind (always 1), length and block.
    struct CopyData {
        unsigned long dwData;  // kind; not examined
        int cbData;            // length of the block in bytes
        const void* lpData;    // the block; valid for the duration of the call
    };
    // The two mode switches that OnCopyData posts to the window.
    static constexpr unsigned WM_USER = 0x0400;
    // How long a write of device data may wait for a browser that does not read.
    static constexpr int SEND_STALL_TIMEOUT_MS = 5000;
    // The pause before the status page is shown while dialling.
    static constexpr int DIAL_PAGE_DELAY_MS = 100;
    // Without a key or activation event, how long the lock-key panes trust their last reading.
    static constexpr int LOCK_KEY_REFRESH_MS = 1000;
    // Status-bar panes, left to right.
    static const std::vector<int>& Indicators();

    CMainFrame(CKestrinApp& app, CKestrinDoc& doc);
    ~CMainFrame() override;

    // Creates the view, the menus, the accelerators and the status bar; false when a part fails.
    bool Create();

    // A tunnel block or a relay event block for the window (WM_COPYDATA).
    bool OnCopyData(QWidget* pWnd, const CopyData* pCopyDataStruct);
    // WM_USER: to tunnel mode.
    long OnTunnelUp();
    // WM_USER+1: to offline mode.
    long OnTunnelDown();

    CKestrinView* GetActiveView() const { return m_pView; }
    // The action of a command id, or null.
    QAction* Action(int id) const;
    // The status-bar pane of an indicator id (0 is the prompt pane), or null.
    QLabel* Pane(int indicatorId) const;
    // The idle-time update of the status-bar panes.
    void OnUpdateIdle();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Watches the application's events for what can change a lock key.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool CreateStatusBar();
    void CreateMenus();
    void CreateAccelerators();
    QAction* MakeAction(int id, const char* text);
    void RouteCommand(int id);
    void StopView();
    void NavigateView(const std::string& url);
    void UpdateTitle();
    void OnFileOpen();
    bool OnFileSaveAs();
    void OnFileSave();

    CKestrinApp& m_app;                 // the application: hub, profile, messenger; not owned
    CKestrinDoc& m_doc;                 // the document with the pane handlers; not owned
    CKestrinView* m_pView = nullptr;    // the central widget; owned by the window
    std::map<int, QAction*> m_actions;  // commands by id; children of the window
    std::map<int, QLabel*> m_panes;     // status-bar panes by indicator id; owned by the status bar
    bool m_bLockKeysStale = true;       // a key or activation event came since the lock keys were last read
    std::chrono::steady_clock::time_point m_tLockKeysRead;  // when the lock keys were last read
};
