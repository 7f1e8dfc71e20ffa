#include "sim/CDemoSession.h"

#include <algorithm>
#include <cstring>

CDemoSession::CDemoSession(CDemoSite* site)
    : m_pSite(site)
{
}

void CDemoSession::OnHeadComplete()
{
    m_eBodyUse = m_pSite->BodyUse(m_parser);
    m_parser.SetBodySink([this](std::span<const std::uint8_t> bytes) {
        switch (m_eBodyUse) {
        case CDemoSite::EBodyUse::Collect:
            if (m_strForm.size() < CDemoSite::MAX_FORM) {
                std::size_t n = std::min(bytes.size(), CDemoSite::MAX_FORM - m_strForm.size());
                m_strForm.append(reinterpret_cast<const char*>(bytes.data()), n);
            }
            break;
        case CDemoSite::EBodyUse::Checksum:
            m_nChecksum = CDemoSite::Fnv1a(bytes, m_nChecksum);
            break;
        case CDemoSite::EBodyUse::Discard:
            break;
        }
    });
    std::string expect = m_parser.Header("expect");
    for (auto& c : expect)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (expect == "100-continue" && m_parser.State() == CHttpRequestParser::EState::Body)
        m_strInterim = CHttpResponse::ContinueLine();
}

void CDemoSession::Answer()
{
    if (m_parser.State() == CHttpRequestParser::EState::Error) {
        m_response = CDemoSite::ErrorPage(m_parser.ErrorStatus(), m_parser.ErrorText());
    } else {
        m_response = m_pSite->Respond(m_parser, m_strForm, m_parser.BodyReceived(), m_nChecksum);
    }
    // An interim line not yet sent is pointless once the answer is ready.
    if (m_nInterimOffset == 0)
        m_strInterim.clear();
}

void CDemoSession::OnRequestBytes(std::span<const std::uint8_t> bytes)
{
    while (!m_response && !bytes.empty()) {
        bool inHead = m_parser.State() == CHttpRequestParser::EState::Head;
        std::size_t used = m_parser.Feed(bytes);
        bytes = bytes.subspan(used);
        if (inHead && m_parser.State() != CHttpRequestParser::EState::Head && m_parser.State() != CHttpRequestParser::EState::Error)
            OnHeadComplete();
        auto state = m_parser.State();
        if (state == CHttpRequestParser::EState::Done || state == CHttpRequestParser::EState::Error)
            Answer();
    }
    // A request without a body completes with its head.
    if (!m_response && m_parser.State() == CHttpRequestParser::EState::Done)
        Answer();
}

void CDemoSession::OnBrowserClosed() { m_bBrowserClosed = true; }

std::size_t CDemoSession::ReadResponse(std::uint8_t* buffer, std::size_t max)
{
    if (m_bBrowserClosed)
        return 0;
    std::size_t written = 0;
    if (m_nInterimOffset < m_strInterim.size()) {
        written = std::min(max, m_strInterim.size() - m_nInterimOffset);
        std::memcpy(buffer, m_strInterim.data() + m_nInterimOffset, written);
        m_nInterimOffset += written;
    }
    if (m_response && written < max)
        written += m_response->Read(buffer + written, max - written);
    return written;
}

bool CDemoSession::Finished() const
{
    // Nobody reads an answer once the browser has gone.
    if (m_bBrowserClosed)
        return true;
    return m_response && m_response->Done() && m_nInterimOffset >= m_strInterim.size();
}
