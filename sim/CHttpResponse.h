#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One answer of the demo device, read out in pieces as the B channel takes
// them: the head, then either a body held as text or a generated download
// whose bytes are computed on the fly, so a large one costs no memory.
class CHttpResponse {
public:
    // A body given as text.
    CHttpResponse(int status, const std::string& contentType, std::string body);
    // A generated body of size bytes (see CDemoSite::BlobByte).
    static CHttpResponse Generated(std::uint64_t size, std::uint32_t checksum);
    // The interim "100 Continue" line for a client that waits for it.
    static std::string ContinueLine() { return "HTTP/1.1 100 Continue\r\n\r\n"; }

    void AddHeader(const std::string& name, const std::string& value);
    // Copies up to max further bytes into buffer; 0 when all has been read.
    std::size_t Read(std::uint8_t* buffer, std::size_t max);
    bool Done() const { return m_bHeadSealed && m_nHeadOffset == m_strHead.size() && m_nBodyOffset == m_nBodySize; }
    int Status() const { return m_nStatus; }
    std::uint64_t BodySize() const { return m_nBodySize; }

    static const char* Reason(int status);

private:
    CHttpResponse() = default;
    void Seal();

    int m_nStatus = 200;             // status code
    std::string m_strHead;           // status line and headers, sealed on the first read
    bool m_bHeadSealed = false;      // Content-Length and the blank line were added
    std::size_t m_nHeadOffset = 0;   // head bytes read so far
    std::string m_strBody;           // body text, unless generated
    bool m_bGenerated = false;       // body comes from the generator
    std::uint64_t m_nBodySize = 0;   // body length in bytes
    std::uint64_t m_nBodyOffset = 0; // body bytes read so far
};
