#include "ui/CKestrinDoc.h"

#include "app/CKestrinApp.h"
#include "relay/CServiceRelay.h"
#include "res/CStringTable.h"
#include "ui/CCmdUI.h"

#include <fstream>

CKestrinDoc::CKestrinDoc(CKestrinApp& app) : m_app(app) {}

bool CKestrinDoc::OnNewDocument()
{
    m_strPathName.clear();
    return true;
}

bool CKestrinDoc::OnOpenDocument(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    m_strPathName = path;
    return true;
}

bool CKestrinDoc::OnSaveDocument(const std::string& path)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    file.close();
    if (file.fail())
        return false;
    m_strPathName = path;
    return true;
}

void CKestrinDoc::OnUpdateSocketPane(CCmdUI& ui)
{
    ui.Enable(true);
    const CServiceRelay* hub = m_app.m_pServiceRelay.get();
    const unsigned port = hub ? hub->GetListenPort() : 0;
    ui.SetText(CStringTable::Format("Socket %d ready", static_cast<int>(port)));
}

void CKestrinDoc::OnUpdateIsdnPane(CCmdUI& ui)
{
    ui.Enable(true);
    std::string text;
    if (const CServiceRelay* hub = m_app.m_pServiceRelay.get())
        hub->GetStatusText(text);
    ui.SetText(text);
}
