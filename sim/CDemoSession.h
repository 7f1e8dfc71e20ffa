#pragma once

#include "sim/CDemoSite.h"
#include "sim/CHttpRequestParser.h"
#include "sim/CHttpResponse.h"
#include "sim/CTunnelSession.h"

#include <optional>
#include <string>

// One tunnelled connection served by the demo device: a single HTTP/1.1
// request, read across as many blocks as it takes (a POST body up to its
// Content-Length), answered with Connection: close.
class CDemoSession : public CTunnelSession {
public:
    explicit CDemoSession(CDemoSite* site);
    CDemoSession(const CDemoSession&) = delete;
    CDemoSession& operator=(const CDemoSession&) = delete;

    void OnRequestBytes(std::span<const std::uint8_t> bytes) override;
    void OnBrowserClosed() override;
    std::size_t ReadResponse(std::uint8_t* buffer, std::size_t max) override;
    bool Finished() const override;

    // The request as far as it was read, for the trace.
    const CHttpRequestParser& Request() const { return m_parser; }
    bool Answered() const { return m_response.has_value(); }

private:
    void OnHeadComplete();
    void Answer();

    CDemoSite* m_pSite;                 // pages and settings, not owned
    CHttpRequestParser m_parser;        // the request being read
    CDemoSite::EBodyUse m_eBodyUse = CDemoSite::EBodyUse::Discard; // what the body is for
    std::string m_strForm;              // collected form body
    std::uint32_t m_nChecksum = CDemoSite::FNV_OFFSET; // running checksum of the body
    std::string m_strInterim;           // "100 Continue" not yet read out
    std::size_t m_nInterimOffset = 0;   // bytes of m_strInterim read
    std::optional<CHttpResponse> m_response; // the answer, once the request is complete
    bool m_bBrowserClosed = false;      // the browser has gone
};
