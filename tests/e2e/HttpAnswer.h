#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Reading the device's HTTP answers in the end-to-end tests.
namespace HttpAnswer {

// FNV-1a, as the demo device stamps its generated content.
inline uint32_t Fnv1a(const std::string& bytes)
{
    uint32_t state = 2166136261u;
    for (unsigned char b : bytes) {
        state ^= b;
        state *= 16777619u;
    }
    return state;
}

inline std::string Body(const std::string& answer)
{
    const size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

inline std::string Header(const std::string& answer, const std::string& name)
{
    const size_t at = answer.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const size_t from = at + name.size() + 4;
    return answer.substr(from, answer.find("\r\n", from) - from);
}

// The body is there and matches the checksum the device sent with it.
inline bool ChecksumMatches(const std::string& answer)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", Fnv1a(Body(answer)));
    return !Body(answer).empty() && Header(answer, "X-Checksum-Fnv1a") == hex;
}

}
