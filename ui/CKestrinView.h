#pragma once

#include "relay/IActiveView.h"

#include <QWebEngineView>

#include <memory>
#include <string>

class CKestrinApp;
class QPrinter;
class QWebEnginePage;
class QWebEngineProfile;

// The one view of the main window: an embedded browser that always points at
// the loopback endpoint, plus the dial and hang-up commands. Main thread only.
class CKestrinView : public QWebEngineView, public IActiveView {
    Q_OBJECT
public:
    // How long NavigateTo lets a busy browser finish, and the pause after stopping it.
    static constexpr int BUSY_WAIT_MS = 500;
    static constexpr int STOP_PAUSE_MS = 50;
    // The port the device root address takes when there is no hub.
    static constexpr int DEFAULT_HTTP_PORT = 80;

    CKestrinView(CKestrinApp& app, QWidget* parent);
    ~CKestrinView() override;

    // IActiveView.
    void NavigateTo(const std::string& url) override;
    void StopNavigation() override;

    // Commands.
    void OnConnect();
    void OnDisconnect();
    void OnShowDevicePage();
    void OnFilePrint();
    void OnFilePrintPreview();

    // The browser wants to close its window. Sets *cancel: the window never
    // closes on a page's request; the call is hung up instead.
    virtual void OnWindowClosing(bool isChildWindow, bool* cancel);

    // Whether a navigation is under way.
    bool IsBusy() const { return m_bBusy; }
    QWebEngineProfile* Profile() const { return m_pProfile.get(); }
    // The address the engine is given for one of the program's URLs: its
    // backslashes turned into slashes, which Chromium needs.
    static QUrl ToEngineUrl(const std::string& url);

    std::string m_strLastUrl;  // the URL of the last navigation NavigateTo started; empty after stopping a busy browser

private:
    void OnLoadStarted();
    void OnLoadFinished();

    CKestrinApp& m_app;                            // for its hub; not owned
    std::unique_ptr<QWebEngineProfile> m_pProfile; // no HTTP cache, nothing stored; outlives the page
    std::unique_ptr<QWebEnginePage> m_pPage;       // the page shown in this view
    std::unique_ptr<QPrinter> m_pPrinter;          // the printer of the last print; kept while it prints
    bool m_bBusy = false;                          // between the start and the end of a load
    bool m_bPrinting = false;                      // a print job is running
};
