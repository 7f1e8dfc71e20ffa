#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Command bytes of the CAPI 2.0 messages the exchange knows by name.
enum ECapiCommand : std::uint8_t {
    CAPI_ALERT = 0x01,
    CAPI_CONNECT = 0x02,
    CAPI_CONNECT_ACTIVE = 0x03,
    CAPI_DISCONNECT = 0x04,
    CAPI_LISTEN = 0x05,
    CAPI_INFO = 0x08,
    CAPI_FACILITY = 0x80,
    CAPI_SELECT_B_PROTOCOL = 0x41,
    CAPI_CONNECT_B3 = 0x82,
    CAPI_CONNECT_B3_ACTIVE = 0x83,
    CAPI_DISCONNECT_B3 = 0x84,
    CAPI_DATA_B3 = 0x86,
    CAPI_RESET_B3 = 0x87,
    CAPI_CONNECT_B3_T90_ACTIVE = 0x88,
    CAPI_MANUFACTURER = 0xFF,
};

// Subcommand bytes.
enum ECapiSubcommand : std::uint8_t {
    CAPI_REQ = 0x80,
    CAPI_CONF = 0x81,
    CAPI_IND = 0x82,
    CAPI_RESP = 0x83,
};

// One CAPI message as it travels in an rcapi frame: the 8-byte header, the
// parameters up to the header's total length, and for DATA_B3 the data block
// that follows the message inside the same frame.
class CCapiMessage {
public:
    std::uint16_t ApplId = 0;     // application the message belongs to
    std::uint8_t Command = 0;     // ECapiCommand
    std::uint8_t Subcommand = 0;  // ECapiSubcommand
    std::uint16_t Number = 0;     // message number
    std::vector<std::uint8_t> Params; // bytes after the header, within the total length
    std::vector<std::uint8_t> Data;   // DATA_B3 block carried behind the message

    bool Is(std::uint8_t command, std::uint8_t subcommand) const
    {
        return Command == command && Subcommand == subcommand;
    }
    // Total length the header states: header plus parameters.
    std::size_t TotalLength() const { return 8 + Params.size(); }

    // Decodes a frame payload. A payload whose lengths do not agree (a total
    // length below 8 or beyond the payload, a DATA_B3_REQ data length beyond
    // the payload, bytes left over) gives no message and an explanation.
    static std::optional<CCapiMessage> Decode(std::span<const std::uint8_t> payload, std::string& error);
    // The frame payload: message, then the data block if any.
    std::vector<std::uint8_t> Encode() const;

    // "CONNECT_REQ", "DATA_B3_IND", or a hex form for unknown values.
    static std::string Name(std::uint8_t command, std::uint8_t subcommand);
    std::string Name() const { return Name(Command, Subcommand); }
};
