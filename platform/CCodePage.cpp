#include "platform/CCodePage.h"

#include <cstdint>

namespace {
// Code points of the bytes 0x80 to 0x9F; 0 where Windows-1252 has no character.
const char32_t kHigh[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

char ToByte(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == cp)
            return static_cast<char>(0x80 + i);
    return '?';
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
}

std::string CCodePage::Utf8ToCp1252(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        if (c < 0x80 || extra == 0 || i + extra >= n) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        char32_t cp = c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (!ok) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        out += ToByte(cp);
        i += extra + 1;
    }
    return out;
}

std::string CCodePage::Cp1252ToUtf8(const std::string& cp1252)
{
    std::string out;
    out.reserve(cp1252.size());
    for (unsigned char c : cp1252) {
        char32_t cp = c;
        if (c >= 0x80 && c < 0xA0)
            cp = kHigh[c - 0x80] ? kHigh[c - 0x80] : 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}
