#pragma once

#include <cstdint>
#include <string>

// The German texts for the reasons with which a call ends or is refused.
class CErrText {
public:
    // UTF-8; the status page turns it into Windows-1252.
    static std::string GetCauseText(uint16_t reason);
};
