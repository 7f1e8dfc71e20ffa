#pragma once

#include "sim/CHttpResponse.h"

#include <cstdint>
#include <span>
#include <string>

class CHttpRequestParser;

// The configuration pages of the built-in demo device, in German: a status
// page, a settings form whose POST changes what the status page shows, a
// page whose button closes the window (and so hangs up), and for
// measurements a generated download and an upload that is counted and
// checksummed. The settings live as long as the exchange, across calls.
class CDemoSite {
public:
    // What the device does with a request's body.
    enum class EBodyUse {
        Discard,  // not needed
        Collect,  // a form, kept up to MAX_FORM bytes
        Checksum, // an upload: counted and checksummed, not kept
    };

    static constexpr std::size_t MAX_FORM = 8192;
    static constexpr std::uint64_t MAX_BLOB = 1ull << 30;
    static constexpr std::uint32_t FNV_OFFSET = 2166136261u;

    explicit CDemoSite(std::string number);

    EBodyUse BodyUse(const CHttpRequestParser& request) const;
    // The answer to a complete request. collected holds the form body
    // (EBodyUse::Collect); bodyBytes and checksum describe the body as read.
    CHttpResponse Respond(const CHttpRequestParser& request, const std::string& collected, std::uint64_t bodyBytes,
        std::uint32_t checksum);
    // A short German error page.
    static CHttpResponse ErrorPage(int status, const std::string& detail);

    // Byte i of every generated download: i mod 251, so that a lost,
    // doubled or reordered block of the tunnel changes the content.
    static std::uint8_t BlobByte(std::uint64_t i) { return static_cast<std::uint8_t>(i % 251); }
    // 32-bit FNV-1a over bytes, continuing from state.
    static std::uint32_t Fnv1a(std::span<const std::uint8_t> bytes, std::uint32_t state = FNV_OFFSET);
    static std::uint32_t BlobChecksum(std::uint64_t size);

    const std::string& DeviceName() const { return m_strName; }

private:
    CHttpResponse StatusPage();
    CHttpResponse SettingsPage(const std::string& message);
    CHttpResponse SaveSettings(const std::string& form);
    CHttpResponse HangUpPage();
    CHttpResponse Blob(const std::string& query);
    static std::string Page(const std::string& title, const std::string& body);

    std::string m_strNumber;            // the number the device answers on
    std::string m_strName = "Pumpstation Nord"; // Gerätename
    std::string m_strLocation = "Halle 3";      // Standort
    std::string m_strMode = "Automatik";        // Betriebsart
    unsigned m_nInterval = 15;                  // Meldeintervall in minutes
    unsigned m_nChanges = 0;                    // settings saved so far
    unsigned m_nRequests = 0;                   // requests answered so far
};
