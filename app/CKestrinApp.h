#pragma once

#include "relay/IRelayApp.h"

#include <QRect>
#include <QStringList>

#include <atomic>
#include <memory>
#include <string>

class CKestrinDoc;
class CMainFrame;
class CMainThreadMessenger;
class CServiceRelay;
class ICapiProvider;

// The application object: prepares the platform, reads the profile, creates
// document, main window and view, then the one relay hub; saves the profile
// on "&Beenden"; at the end of the run closes the deliveries to the window,
// destroys the window and then the hub. Everything here runs on the main
// thread apart from the IRelayApp calls, which say so.
class CKestrinApp : public IRelayApp {
public:
    // Where the profile lives: QSettings(ORGANIZATION, APPLICATION).
    static constexpr const char* ORGANIZATION = "Quorvel";
    static constexpr const char* APPLICATION = "Kestrin";

    // `capi` must outlive the application object.
    explicit CKestrinApp(ICapiProvider& capi);
    ~CKestrinApp() override;
    CKestrinApp(const CKestrinApp&) = delete;
    CKestrinApp& operator=(const CKestrinApp&) = delete;

    // Process settings that must precede the QApplication (the browser engine's
    // sandbox under root, shared GL contexts). Call once in main.
    static void PrepareProcess();

    // Start-up with the command line (the program name first, Qt's own
    // options already taken out). False: the program ends at once.
    bool InitInstance(const QStringList& arguments);
    // "&Beenden": saves the own number and the window rectangle, then closes.
    void OnAppExit();
    // "&Info über Kestrin...": the About box, modally.
    void OnAppAbout();
    // The main window has accepted its close: no more deliveries to it, and the loop ends.
    void OnMainWindowClosed();

    CMainFrame* GetMainWnd() const { return m_pMainFrame.get(); }
    CKestrinDoc* GetDocument() const { return m_pDocument.get(); }
    CMainThreadMessenger* GetMessenger() const { return m_pMessenger.get(); }

    // IRelayApp.
    bool HasMainWindow() const override;
    void DeliverToMainWindow(const uint8_t* block, int length) override;
    IActiveView* GetActiveView() override;

    std::unique_ptr<CServiceRelay> m_pServiceRelay;  // the one hub; null until start-up step 13
    std::string m_strLastNumber;                     // number last confirmed in the call-destination dialog; this run only
    std::string m_strOwnMSN;                         // own number; from the profile, saved by "&Beenden"

protected:
    // Start-up checks of the two platform services; false shows message 104 or 100.
    virtual bool InitSockets();
    virtual bool InitBrowserRuntime();

private:
    void ShowStartupFailure(int messageId);
    void PlaceMainWindow(const QRect& outer);

    ICapiProvider& m_capi;                              // driver test and controller factory for the hub
    std::unique_ptr<CMainThreadMessenger> m_pMessenger; // carries deliveries to the window; closed before the hub goes
    std::unique_ptr<CKestrinDoc> m_pDocument;           // the document; outlives the window that shows it
    std::unique_ptr<CMainFrame> m_pMainFrame;           // the main window with the view
    std::atomic<bool> m_bWindowUp{false};               // the window takes deliveries; written on the main thread, read by any
};
