#include "sim/CHttpResponse.h"

#include "sim/CDemoSite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

CHttpResponse::CHttpResponse(int status, const std::string& contentType, std::string body)
    : m_nStatus(status)
    , m_strBody(std::move(body))
{
    m_nBodySize = m_strBody.size();
    m_strHead = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    AddHeader("Content-Type", contentType);
}

CHttpResponse CHttpResponse::Generated(std::uint64_t size, std::uint32_t checksum)
{
    CHttpResponse r;
    r.m_nStatus = 200;
    r.m_bGenerated = true;
    r.m_nBodySize = size;
    r.m_strHead = "HTTP/1.1 200 OK\r\n";
    r.AddHeader("Content-Type", "application/octet-stream");
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", checksum);
    r.AddHeader("X-Checksum-Fnv1a", hex);
    return r;
}

void CHttpResponse::AddHeader(const std::string& name, const std::string& value)
{
    if (!m_bHeadSealed)
        m_strHead += name + ": " + value + "\r\n";
}

void CHttpResponse::Seal()
{
    m_strHead += "Content-Length: " + std::to_string(m_nBodySize) + "\r\n";
    m_strHead += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    m_bHeadSealed = true;
}

std::size_t CHttpResponse::Read(std::uint8_t* buffer, std::size_t max)
{
    if (!m_bHeadSealed)
        Seal();
    std::size_t written = 0;
    if (m_nHeadOffset < m_strHead.size()) {
        std::size_t n = std::min(max, m_strHead.size() - m_nHeadOffset);
        std::memcpy(buffer, m_strHead.data() + m_nHeadOffset, n);
        m_nHeadOffset += n;
        written += n;
    }
    while (written < max && m_nBodyOffset < m_nBodySize) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(max - written, m_nBodySize - m_nBodyOffset));
        if (m_bGenerated) {
            for (std::size_t i = 0; i < n; ++i)
                buffer[written + i] = CDemoSite::BlobByte(m_nBodyOffset + i);
        } else {
            std::memcpy(buffer + written, m_strBody.data() + m_nBodyOffset, n);
        }
        m_nBodyOffset += n;
        written += n;
    }
    return written;
}

const char* CHttpResponse::Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 505: return "HTTP Version Not Supported";
    default: return "Status";
    }
}
