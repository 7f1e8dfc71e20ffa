#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

// Reads one HTTP/1.x request as it trickles in through the tunnel: the head
// up to the empty line, then a body of exactly Content-Length bytes handed
// to a sink as it arrives, so a large upload is never held in memory.
class CHttpRequestParser {
public:
    enum class EState { Head, Body, Done, Error };
    using BodySink = std::function<void(std::span<const std::uint8_t>)>;

    static constexpr std::size_t MAX_HEAD = 16384;
    static constexpr std::uint64_t MAX_BODY = 1ull << 36;

    // Consumes bytes. In Head it stops right after the head, so the caller
    // can look at the request and set a body sink before feeding the rest;
    // in Body it consumes at most what the body still lacks; in Done and
    // Error it swallows everything.
    std::size_t Feed(std::span<const std::uint8_t> bytes);
    void SetBodySink(BodySink sink) { m_bodySink = std::move(sink); }

    EState State() const { return m_eState; }
    // Status to answer with when State() is Error (400, 411, 413, 431, 501, 505).
    int ErrorStatus() const { return m_nErrorStatus; }
    const std::string& ErrorText() const { return m_strError; }

    const std::string& Method() const { return m_strMethod; }
    const std::string& Target() const { return m_strTarget; }
    // The target before "?", and after it.
    std::string Path() const;
    std::string Query() const;
    // A header's value by its lower-case name, or empty.
    std::string Header(const std::string& lowerName) const;
    std::uint64_t ContentLength() const { return m_nContentLength; }
    std::uint64_t BodyReceived() const { return m_nBodyReceived; }

private:
    void ParseHead();
    void Fail(int status, std::string text);

    EState m_eState = EState::Head;            // where the request stands
    std::string m_strHead;                     // head bytes gathered so far
    std::string m_strMethod;                   // request method
    std::string m_strTarget;                   // request target as sent
    std::map<std::string, std::string> m_headers; // lower-case name -> value
    std::uint64_t m_nContentLength = 0;        // announced body length
    std::uint64_t m_nBodyReceived = 0;         // body bytes handed to the sink
    BodySink m_bodySink;                       // gets the body; may be empty
    int m_nErrorStatus = 0;                    // answer for a bad request
    std::string m_strError;                    // why it was refused
};
