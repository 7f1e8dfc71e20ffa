#include "sim/CDemoSite.h"

#include "sim/CHttpRequestParser.h"

#include <cstdio>
#include <map>
#include <vector>

namespace {

const char* const MODES[] = { "Automatik", "Handbetrieb", "Wartung" };

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes application/x-www-form-urlencoded; false on a broken escape.
bool ParseForm(const std::string& body, std::map<std::string, std::string>& fields)
{
    std::size_t pos = 0;
    while (pos <= body.size()) {
        auto amp = body.find('&', pos);
        std::string pair = body.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        pos = amp == std::string::npos ? body.size() + 1 : amp + 1;
        if (pair.empty())
            continue;
        auto eq = pair.find('=');
        std::string parts[2] = { pair.substr(0, eq), eq == std::string::npos ? std::string() : pair.substr(eq + 1) };
        for (auto& part : parts) {
            std::string decoded;
            for (std::size_t i = 0; i < part.size(); ++i) {
                if (part[i] == '+') {
                    decoded += ' ';
                } else if (part[i] == '%') {
                    if (i + 2 >= part.size())
                        return false;
                    int hi = HexValue(part[i + 1]), lo = HexValue(part[i + 2]);
                    if (hi < 0 || lo < 0)
                        return false;
                    decoded += static_cast<char>(hi * 16 + lo);
                    i += 2;
                } else {
                    decoded += part[i];
                }
            }
            part = decoded;
        }
        fields[parts[0]] = parts[1];
    }
    return true;
}

bool ValidText(const std::string& s)
{
    if (s.empty() || s.size() > 40)
        return false;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

} // namespace

CDemoSite::CDemoSite(std::string number)
    : m_strNumber(std::move(number))
{
}

std::uint32_t CDemoSite::Fnv1a(std::span<const std::uint8_t> bytes, std::uint32_t state)
{
    for (auto b : bytes) {
        state ^= b;
        state *= 16777619u;
    }
    return state;
}

std::uint32_t CDemoSite::BlobChecksum(std::uint64_t size)
{
    std::uint32_t state = FNV_OFFSET;
    std::uint8_t chunk[4096];
    for (std::uint64_t offset = 0; offset < size;) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, size - offset));
        for (std::size_t i = 0; i < n; ++i)
            chunk[i] = BlobByte(offset + i);
        state = Fnv1a(std::span(chunk, n), state);
        offset += n;
    }
    return state;
}

CDemoSite::EBodyUse CDemoSite::BodyUse(const CHttpRequestParser& request) const
{
    if (request.Method() != "POST")
        return EBodyUse::Discard;
    std::string path = request.Path();
    if (path == "/upload")
        return EBodyUse::Checksum;
    if (path == "/einstellungen")
        return EBodyUse::Collect;
    return EBodyUse::Discard;
}

std::string CDemoSite::Page(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html lang=\"de\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + Escape(title)
        + "</title>\n<style>\nbody{font-family:sans-serif;margin:2em;background:#f4f6f8;color:#222}\n"
          "h1{font-size:1.4em;border-bottom:2px solid #2a6f97;padding-bottom:.3em}\n"
          "table{border-collapse:collapse}th,td{text-align:left;padding:.3em 1em;border-bottom:1px solid #ccc}\n"
          "nav a{margin-right:1.5em}.hinweis{color:#2a6f97;font-weight:bold}.fehler{color:#b00020;font-weight:bold}\n"
          "</style>\n</head>\n<body>\n<nav><a href=\"/\">Status</a><a href=\"/einstellungen\">Einstellungen</a>"
          "<a href=\"/trennen\">Verbindung trennen</a></nav>\n"
        + body + "</body>\n</html>\n";
}

CHttpResponse CDemoSite::ErrorPage(int status, const std::string& detail)
{
    std::string title = std::to_string(status) + " " + CHttpResponse::Reason(status);
    std::string body = "<h1>Fehler " + std::to_string(status) + "</h1>\n<p class=\"fehler\">" + Escape(detail) + "</p>\n";
    CHttpResponse r(status, "text/html; charset=utf-8", Page(title, body));
    if (status == 405)
        r.AddHeader("Allow", "GET, POST");
    return r;
}

CHttpResponse CDemoSite::StatusPage()
{
    std::string changes = m_nChanges == 0 ? std::string("keine") : std::to_string(m_nChanges);
    std::string body = "<h1>Gerätestatus</h1>\n<table>\n"
                       "<tr><th>Gerätename</th><td id=\"name\">"
        + Escape(m_strName) + "</td></tr>\n<tr><th>Standort</th><td id=\"standort\">" + Escape(m_strLocation)
        + "</td></tr>\n<tr><th>Betriebsart</th><td id=\"betriebsart\">" + Escape(m_strMode)
        + "</td></tr>\n<tr><th>Meldeintervall</th><td id=\"intervall\">" + std::to_string(m_nInterval)
        + " Minuten</td></tr>\n<tr><th>Rufnummer</th><td>" + Escape(m_strNumber)
        + "</td></tr>\n<tr><th>Firmware</th><td>3.2.1</td></tr>\n"
          "<tr><th>Zustand</th><td>Betriebsbereit, keine Störung</td></tr>\n"
          "<tr><th>Gespeicherte Änderungen</th><td id=\"aenderungen\">"
        + changes + "</td></tr>\n<tr><th>Abrufe seit Start</th><td>" + std::to_string(m_nRequests)
        + "</td></tr>\n</table>\n";
    return CHttpResponse(200, "text/html; charset=utf-8", Page("Gerätestatus – " + m_strName, body));
}

CHttpResponse CDemoSite::SettingsPage(const std::string& message)
{
    std::string options;
    for (const char* mode : MODES) {
        options += std::string("<option") + (m_strMode == mode ? " selected" : "") + ">" + mode + "</option>";
    }
    std::string body = "<h1>Einstellungen</h1>\n" + message
        + "<form method=\"post\" action=\"/einstellungen\">\n<table>\n"
          "<tr><th><label for=\"name\">Gerätename</label></th><td><input id=\"name\" name=\"name\" maxlength=\"40\" value=\""
        + Escape(m_strName)
        + "\"></td></tr>\n<tr><th><label for=\"standort\">Standort</label></th><td><input id=\"standort\" name=\"standort\" "
          "maxlength=\"40\" value=\""
        + Escape(m_strLocation)
        + "\"></td></tr>\n<tr><th><label for=\"betriebsart\">Betriebsart</label></th><td><select id=\"betriebsart\" "
          "name=\"betriebsart\">"
        + options
        + "</select></td></tr>\n<tr><th><label for=\"intervall\">Meldeintervall (Minuten)</label></th><td><input "
          "id=\"intervall\" name=\"intervall\" type=\"number\" min=\"1\" max=\"1440\" value=\""
        + std::to_string(m_nInterval)
        + "\"></td></tr>\n</table>\n<p><button type=\"submit\">Speichern</button></p>\n</form>\n";
    return CHttpResponse(200, "text/html; charset=utf-8", Page("Einstellungen – " + m_strName, body));
}

CHttpResponse CDemoSite::SaveSettings(const std::string& form)
{
    std::map<std::string, std::string> fields;
    if (!ParseForm(form, fields))
        return ErrorPage(400, "Die Formulardaten sind fehlerhaft kodiert.");
    std::vector<std::string> problems;
    std::string name = fields.count("name") ? fields["name"] : m_strName;
    std::string location = fields.count("standort") ? fields["standort"] : m_strLocation;
    std::string mode = fields.count("betriebsart") ? fields["betriebsart"] : m_strMode;
    unsigned interval = m_nInterval;
    if (!ValidText(name))
        problems.push_back("Der Gerätename muss 1 bis 40 Zeichen lang sein.");
    if (!ValidText(location))
        problems.push_back("Der Standort muss 1 bis 40 Zeichen lang sein.");
    bool modeOk = false;
    for (const char* m : MODES)
        modeOk = modeOk || mode == m;
    if (!modeOk)
        problems.push_back("Unbekannte Betriebsart.");
    if (fields.count("intervall")) {
        const std::string& v = fields["intervall"];
        bool digits = !v.empty() && v.size() <= 4 && v.find_first_not_of("0123456789") == std::string::npos;
        unsigned n = digits ? static_cast<unsigned>(std::stoul(v)) : 0;
        if (n < 1 || n > 1440)
            problems.push_back("Das Meldeintervall muss zwischen 1 und 1440 Minuten liegen.");
        else
            interval = n;
    }
    if (!problems.empty()) {
        std::string message = "<p class=\"fehler\">Nicht gespeichert:</p>\n<ul>\n";
        for (auto& p : problems)
            message += "<li>" + Escape(p) + "</li>\n";
        message += "</ul>\n";
        return SettingsPage(message);
    }
    m_strName = name;
    m_strLocation = location;
    m_strMode = mode;
    m_nInterval = interval;
    ++m_nChanges;
    return SettingsPage("<p class=\"hinweis\" id=\"gespeichert\">Einstellungen gespeichert.</p>\n");
}

CHttpResponse CDemoSite::HangUpPage()
{
    std::string body = "<h1>Verbindung trennen</h1>\n"
                       "<p>Die Wählverbindung zum Gerät wird beendet, sobald Sie die Sitzung schließen.</p>\n"
                       "<p><button id=\"trennen\" onclick=\"window.close()\">Sitzung beenden und auflegen</button></p>\n";
    return CHttpResponse(200, "text/html; charset=utf-8", Page("Verbindung trennen – " + m_strName, body));
}

CHttpResponse CDemoSite::Blob(const std::string& query)
{
    std::uint64_t size = 0;
    bool found = false;
    std::size_t pos = 0;
    while (pos <= query.size()) {
        auto amp = query.find('&', pos);
        std::string pair = query.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        pos = amp == std::string::npos ? query.size() + 1 : amp + 1;
        if (pair.rfind("size=", 0) == 0) {
            std::string v = pair.substr(5);
            if (v.empty() || v.size() > 10 || v.find_first_not_of("0123456789") != std::string::npos)
                return ErrorPage(400, "size muss eine Zahl sein.");
            size = std::stoull(v);
            found = true;
        }
    }
    if (!found || size > MAX_BLOB)
        return ErrorPage(400, "Aufruf: /blob?size=N mit N von 0 bis 1073741824 Bytes.");
    return CHttpResponse::Generated(size, BlobChecksum(size));
}

CHttpResponse CDemoSite::Respond(const CHttpRequestParser& request, const std::string& collected, std::uint64_t bodyBytes,
    std::uint32_t checksum)
{
    ++m_nRequests;
    std::string path = request.Path();
    const std::string& method = request.Method();
    if (method != "GET" && method != "POST")
        return ErrorPage(405, "Methode " + method + " wird nicht unterstützt.");
    if (path == "/" || path == "/status" || path == "/index.html") {
        return method == "GET" ? StatusPage() : ErrorPage(405, "Die Statusseite kann nur abgerufen werden.");
    }
    if (path == "/einstellungen") {
        if (method == "GET")
            return SettingsPage("");
        if (bodyBytes > MAX_FORM)
            return ErrorPage(413, "Die Formulardaten sind zu lang.");
        return SaveSettings(collected);
    }
    if (path == "/trennen")
        return method == "GET" ? HangUpPage() : ErrorPage(405, "Nur GET.");
    if (path == "/blob")
        return method == "GET" ? Blob(request.Query()) : ErrorPage(405, "Nur GET.");
    if (path == "/upload") {
        if (method != "POST")
            return ErrorPage(405, "Hochladen nur mit POST.");
        char text[64];
        std::snprintf(text, sizeof text, "bytes=%llu fnv1a=%08x\n", static_cast<unsigned long long>(bodyBytes), checksum);
        return CHttpResponse(200, "text/plain; charset=utf-8", text);
    }
    if (path == "/favicon.ico")
        return CHttpResponse(404, "text/plain; charset=utf-8", "");
    return ErrorPage(404, "Die Seite " + path + " gibt es auf diesem Gerät nicht.");
}
