#include "ui/CKestrinView.h"

#include "app/CKestrinApp.h"
#include "relay/CServiceRelay.h"
#include "res/CStringTable.h"
#include "ui/CDlgCallDest.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>
#include <chrono>
#include <thread>

CKestrinView::CKestrinView(CKestrinApp& app, QWidget* parent)
    : QWebEngineView(parent), m_app(app), m_pProfile(std::make_unique<QWebEngineProfile>())
{
    // An off-the-record profile without HTTP cache: every page comes fresh from the endpoint.
    m_pProfile->setHttpCacheType(QWebEngineProfile::NoCache);
    m_pProfile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_pPage = std::make_unique<QWebEnginePage>(m_pProfile.get());
    setPage(m_pPage.get());
    connect(m_pPage.get(), &QWebEnginePage::loadStarted, this, &CKestrinView::OnLoadStarted);
    connect(m_pPage.get(), &QWebEnginePage::loadFinished, this, &CKestrinView::OnLoadFinished);
    connect(m_pPage.get(), &QWebEnginePage::windowCloseRequested, this, [this] {
        bool cancel = false;
        OnWindowClosing(false, &cancel);
        if (!cancel)
            window()->close();
    });
    connect(this, &QWebEngineView::printFinished, this, [this](bool) { m_bPrinting = false; });
}

CKestrinView::~CKestrinView()
{
    // The view lets go of the page before it goes, and the page goes before its profile.
    disconnect(m_pPage.get(), nullptr, this, nullptr);
    setPage(nullptr);
    m_pPage.reset();
}

QUrl CKestrinView::ToEngineUrl(const std::string& url)
{
    std::string converted = url;
    std::replace(converted.begin(), converted.end(), '\\', '/');
    return QUrl(QString::fromStdString(converted));
}

void CKestrinView::NavigateTo(const std::string& url)
{
    // The waits block the main thread on purpose, as the endpoint that serves
    // the page lives there too: a load from it cannot finish meanwhile.
    if (m_bBusy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(BUSY_WAIT_MS));
        if (m_bBusy) {
            StopNavigation();
            m_strLastUrl.clear();
            std::this_thread::sleep_for(std::chrono::milliseconds(STOP_PAUSE_MS));
        }
    }
    if (url == m_strLastUrl) {
        m_pPage->triggerAction(QWebEnginePage::ReloadAndBypassCache);
        return;
    }
    m_strLastUrl = url;
    // Not from the cache (the profile has none) and not into the history
    // (cleared when the load ends).
    load(ToEngineUrl(url));
}

void CKestrinView::StopNavigation()
{
    stop();
    m_bBusy = false;
}

void CKestrinView::OnLoadStarted()
{
    m_bBusy = true;
}

void CKestrinView::OnLoadFinished()
{
    m_bBusy = false;
    // Chromium lets a page's script close the window only while the history
    // holds a single entry; keeping it there keeps the hang-up on close working.
    m_pPage->history()->clear();
}

void CKestrinView::OnConnect()
{
    CDlgCallDest dialog(m_app, this);
    if (dialog.exec() == QDialog::Accepted && m_app.m_pServiceRelay)
        m_app.m_pServiceRelay->Dial(dialog.m_strNumber.c_str(), dialog.m_strOwnNumber.c_str());
}

void CKestrinView::OnDisconnect()
{
    if (m_app.m_pServiceRelay)
        m_app.m_pServiceRelay->Disconnect();
}

void CKestrinView::OnShowDevicePage()
{
    const CServiceRelay* hub = m_app.m_pServiceRelay.get();
    const int port = hub ? static_cast<int>(hub->GetListenPort()) : DEFAULT_HTTP_PORT;
    load(ToEngineUrl(CStringTable::Format(CStringTable::Get(CStringTable::IDS_DEVICE_URL), port)));
}

void CKestrinView::OnWindowClosing(bool, bool* cancel)
{
    if (cancel)
        *cancel = true;
    OnDisconnect();
}

void CKestrinView::OnFilePrint()
{
    if (m_bPrinting)
        return;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_pPrinter = std::move(printer);
    m_bPrinting = true;
    print(m_pPrinter.get());
}

void CKestrinView::OnFilePrintPreview() {}
