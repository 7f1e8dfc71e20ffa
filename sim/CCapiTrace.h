#pragma once

#include "sim/CCapiMessage.h"

#include <cstdint>
#include <span>
#include <string>

// Turns a CAPI message into one line a technician can read and a test can
// grep: its name, the header's application and number, then the parameters
// of that message as name=value pairs.
class CCapiTrace {
public:
    static std::string Describe(const CCapiMessage& msg);
    // Digits of a called/calling party number struct, without its leading
    // type (and presentation) octets; the struct's content is given.
    static std::string NumberDigits(std::span<const std::uint8_t> content);
    // Printable form of a few bytes: text in quotes with escapes.
    static std::string Preview(std::span<const std::uint8_t> bytes, std::size_t limit);
};
