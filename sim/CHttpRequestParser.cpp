#include "sim/CHttpRequestParser.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimSpaces(const std::string& s)
{
    auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

} // namespace

void CHttpRequestParser::Fail(int status, std::string text)
{
    m_eState = EState::Error;
    m_nErrorStatus = status;
    m_strError = std::move(text);
}

std::size_t CHttpRequestParser::Feed(std::span<const std::uint8_t> bytes)
{
    switch (m_eState) {
    case EState::Head: {
        std::size_t used = 0;
        while (used < bytes.size()) {
            m_strHead.push_back(static_cast<char>(bytes[used++]));
            std::size_t n = m_strHead.size();
            bool end = (n >= 4 && m_strHead.compare(n - 4, 4, "\r\n\r\n") == 0)
                || (n >= 2 && m_strHead.compare(n - 2, 2, "\n\n") == 0);
            // Blank lines before the request line are tolerated.
            if (end && m_strHead.find_first_not_of("\r\n") == std::string::npos) {
                m_strHead.clear();
                continue;
            }
            if (end) {
                ParseHead();
                return used;
            }
            if (n > MAX_HEAD) {
                Fail(431, "request head longer than 16384 bytes");
                return used;
            }
        }
        return used;
    }
    case EState::Body: {
        std::uint64_t missing = m_nContentLength - m_nBodyReceived;
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(missing, bytes.size()));
        if (take > 0 && m_bodySink)
            m_bodySink(bytes.first(take));
        m_nBodyReceived += take;
        if (m_nBodyReceived == m_nContentLength)
            m_eState = EState::Done;
        return take;
    }
    case EState::Done:
    case EState::Error:
        return bytes.size();
    }
    return bytes.size();
}

void CHttpRequestParser::ParseHead()
{
    std::size_t pos = 0;
    auto nextLine = [&]() {
        auto nl = m_strHead.find('\n', pos);
        std::string line = m_strHead.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? m_strHead.size() : nl + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    };
    std::string requestLine = nextLine();
    auto sp1 = requestLine.find(' ');
    auto sp2 = sp1 == std::string::npos ? std::string::npos : requestLine.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos || sp1 == 0 || sp2 == sp1 + 1) {
        Fail(400, "malformed request line");
        return;
    }
    m_strMethod = requestLine.substr(0, sp1);
    m_strTarget = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string version = requestLine.substr(sp2 + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        Fail(505, "unsupported protocol version");
        return;
    }
    if (m_strTarget[0] != '/') {
        Fail(400, "request target must start with /");
        return;
    }
    while (pos < m_strHead.size()) {
        std::string line = nextLine();
        if (line.empty())
            break;
        auto colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || line[0] == ' ' || line[0] == '\t') {
            Fail(400, "malformed header line");
            return;
        }
        std::string name = Lower(line.substr(0, colon));
        std::string value = TrimSpaces(line.substr(colon + 1));
        if (name == "content-length" && m_headers.count(name) && m_headers[name] != value) {
            Fail(400, "conflicting Content-Length headers");
            return;
        }
        m_headers[name] = value;
    }
    if (m_headers.count("transfer-encoding")) {
        Fail(411, "chunked request bodies are not supported; send Content-Length");
        return;
    }
    auto cl = m_headers.find("content-length");
    if (cl != m_headers.end()) {
        const std::string& v = cl->second;
        if (v.empty() || v.size() > 12 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            Fail(400, "bad Content-Length");
            return;
        }
        m_nContentLength = std::stoull(v);
        if (m_nContentLength > MAX_BODY) {
            Fail(413, "request body too large");
            return;
        }
    }
    m_eState = m_nContentLength > 0 ? EState::Body : EState::Done;
}

std::string CHttpRequestParser::Path() const
{
    return m_strTarget.substr(0, m_strTarget.find('?'));
}

std::string CHttpRequestParser::Query() const
{
    auto q = m_strTarget.find('?');
    return q == std::string::npos ? std::string() : m_strTarget.substr(q + 1);
}

std::string CHttpRequestParser::Header(const std::string& lowerName) const
{
    auto it = m_headers.find(lowerName);
    return it == m_headers.end() ? std::string() : it->second;
}
