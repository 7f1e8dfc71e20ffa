#include "http/COfflineResponder.h"

#include "capi/CErrText.h"
#include "http/CClientSocket.h"
#include "platform/CCodePage.h"
#include "relay/CServiceRelay.h"
#include "res/CStringTable.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>

namespace {
const char* const kStatusTexts[] = {
    "200 OK\r\n",
    "403 FORBIDDEN\r\n",
    "404 NOT FOUND\r\n",
    "500 INTERNEL_SERVER_ERROR\r\n",
};

// Text that goes into the page from outside the template (a typed number) is
// escaped, so that it shows as typed and cannot add markup to the page.
std::string EscapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c; break;
        }
    }
    return out;
}

// A tag text matches a keyword when it equals the keyword or a leading part of it.
bool TagMatches(const char* tag, size_t length, const char* keyword)
{
    return std::strncmp(tag, keyword, length) == 0;
}
}

COfflineResponder::COfflineResponder(CServiceRelay* relay, const std::string& templatePath) : m_pRelay(relay)
{
    const std::string path = templatePath.empty() ? CStringTable::Get(CStringTable::IDS_TEMPLATE_FILE) : templatePath;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return;
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.bad() && !content.empty())
        m_pszTemplate = std::move(content);
}

void COfflineResponder::HandleRequest(int count, const uint8_t* bytes)
{
    if (!bytes || count <= 0)
        return;
    int space = -1;
    for (int i = 0; i < count; ++i) {
        if (bytes[i] == 0)
            return;
        if (bytes[i] == ' ') {
            space = i;
            break;
        }
    }
    if (space <= 0)
        return;
    const bool isGet = space == 3 && std::memcmp(bytes, "GET", 3) == 0;
    SendResponse(isGet ? STATUS_OK : STATUS_FORBIDDEN);
}

std::optional<std::string> COfflineResponder::BuildStatusPage() const
{
    if (!m_pszTemplate)
        return std::nullopt;
    const std::string& tpl = *m_pszTemplate;
    const size_t end = std::min(tpl.size(), std::strlen(tpl.c_str()));
    std::string out;
    out.reserve(end + 256);
    bool haveTagStart = false;
    size_t tagStart = 0;
    for (size_t i = 0; i < end; ++i) {
        const char c = tpl[i];
        out += c;
        if (c == '<') {
            haveTagStart = true;
            tagStart = i + 1;
        } else if (c == '>' && haveTagStart) {
            const char* tag = tpl.c_str() + tagStart;
            const size_t length = i - tagStart;
            if (TagMatches(tag, length, "HEADER /")) {
                out += CCodePage::Utf8ToCp1252(CStringTable::Format(
                    CStringTable::Get(CStringTable::IDS_PAGE_HEADER), EscapeHtml(m_pRelay->m_strNumber).c_str()));
            } else if (TagMatches(tag, length, "STATUS /")) {
                const uint16_t info = m_pRelay->m_wLastInfo;
                std::string status;
                const int code = m_pRelay->GetStatusText(status);
                status = EscapeHtml(status);
                std::string text;
                if (code == CServiceRelay::STATE_READY && info == 0)
                    text = CStringTable::Format(CStringTable::Get(CStringTable::IDS_PAGE_STATUS), status.c_str());
                else
                    text = CStringTable::Format(CStringTable::Get(CStringTable::IDS_PAGE_STATUS_CAUSE), status.c_str(),
                                                CErrText::GetCauseText(info).c_str());
                out += CCodePage::Utf8ToCp1252(text);
            }
            // The INFO placeholder expands to nothing; other tags stay as they are.
        }
    }
    return out;
}

std::string COfflineResponder::BuildResponse(int index) const
{
    if (index < 0 || index > STATUS_SERVER_ERROR)
        index = STATUS_SERVER_ERROR;
    std::string body;
    try {
        std::optional<std::string> page;
        if (index == STATUS_OK)
            page = BuildStatusPage();
        if (index == STATUS_OK && !page)
            index = STATUS_NOT_FOUND;
        if (page)
            body = std::move(*page);
    } catch (const std::bad_alloc&) {
        index = STATUS_NOT_FOUND;
    }
    if (index != STATUS_OK)
        body = std::string("<HTML><BODY>ERROR: ") + kStatusTexts[index] + "</BODY></HTML>";
    std::string answer;
    answer.reserve(body.size() + 96);
    answer += "HTTP/1.1 ";
    answer += kStatusTexts[index];
    answer += "Content-type: text/html\r\n";
    answer += "Content-length: ";
    answer += std::to_string(body.size());
    answer += "\r\n";
    answer += "\r\n";
    answer += body;
    return answer;
}

void COfflineResponder::SendResponse(int index)
{
    const std::string answer = BuildResponse(index);
    std::unique_ptr<CClientSocket> connection = std::move(m_pRelay->m_pClientSocket);
    if (!connection)
        return;
    // The whole answer, even when the browser's socket takes it in pieces, so
    // that the page is never shorter than its Content-length.
    connection->SendAll(answer.data(), static_cast<int>(answer.size()), SEND_STALL_TIMEOUT_MS);
    // Take in what the browser already sent before closing: unread bytes would
    // make the close a reset, which can cost the browser the answer.
    connection->ShutDown(CAsyncSocket::SENDS);
    uint8_t discard[2048];
    while (connection->Receive(discard, sizeof discard) > 0) {
    }
    connection->ShutDown(CAsyncSocket::BOTH);
    connection->Close();
    m_pRelay->WatchConnections();
}
