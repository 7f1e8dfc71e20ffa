#include "sim/CCapiMessage.h"

#include "sim/CByteReader.h"
#include "sim/CByteWriter.h"

#include <cstdio>

std::optional<CCapiMessage> CCapiMessage::Decode(std::span<const std::uint8_t> payload, std::string& error)
{
    CByteReader in(payload);
    std::uint16_t total = in.U16();
    CCapiMessage msg;
    msg.ApplId = in.U16();
    msg.Command = in.U8();
    msg.Subcommand = in.U8();
    msg.Number = in.U16();
    if (!in.Ok()) {
        error = "frame shorter than a message header";
        return std::nullopt;
    }
    if (total < 8 || total > payload.size()) {
        error = "message length " + std::to_string(total) + " does not fit the frame of " + std::to_string(payload.size()) + " bytes";
        return std::nullopt;
    }
    auto params = in.Bytes(total - 8u);
    msg.Params.assign(params.begin(), params.end());

    std::size_t dataLength = 0;
    if (msg.Is(CAPI_DATA_B3, CAPI_REQ)) {
        // NCCI, Data (dword), then the data length: parameter offset 8.
        CByteReader p(params);
        p.Skip(8);
        dataLength = p.U16();
        if (!p.Ok()) {
            error = "DATA_B3_REQ of " + std::to_string(total) + " bytes lacks its data length";
            return std::nullopt;
        }
    }
    if (in.Remaining() != dataLength) {
        error = "frame carries " + std::to_string(in.Remaining()) + " bytes behind the message, expected " + std::to_string(dataLength);
        return std::nullopt;
    }
    auto data = in.Bytes(dataLength);
    msg.Data.assign(data.begin(), data.end());
    return msg;
}

std::vector<std::uint8_t> CCapiMessage::Encode() const
{
    CByteWriter out;
    out.U16(static_cast<std::uint16_t>(TotalLength()))
        .U16(ApplId)
        .U8(Command)
        .U8(Subcommand)
        .U16(Number)
        .Bytes(Params)
        .Bytes(Data);
    return out.Take();
}

std::string CCapiMessage::Name(std::uint8_t command, std::uint8_t subcommand)
{
    const char* base = nullptr;
    switch (command) {
    case CAPI_ALERT: base = "ALERT"; break;
    case CAPI_CONNECT: base = "CONNECT"; break;
    case CAPI_CONNECT_ACTIVE: base = "CONNECT_ACTIVE"; break;
    case CAPI_DISCONNECT: base = "DISCONNECT"; break;
    case CAPI_LISTEN: base = "LISTEN"; break;
    case CAPI_INFO: base = "INFO"; break;
    case CAPI_FACILITY: base = "FACILITY"; break;
    case CAPI_SELECT_B_PROTOCOL: base = "SELECT_B_PROTOCOL"; break;
    case CAPI_CONNECT_B3: base = "CONNECT_B3"; break;
    case CAPI_CONNECT_B3_ACTIVE: base = "CONNECT_B3_ACTIVE"; break;
    case CAPI_DISCONNECT_B3: base = "DISCONNECT_B3"; break;
    case CAPI_DATA_B3: base = "DATA_B3"; break;
    case CAPI_RESET_B3: base = "RESET_B3"; break;
    case CAPI_CONNECT_B3_T90_ACTIVE: base = "CONNECT_B3_T90_ACTIVE"; break;
    case CAPI_MANUFACTURER: base = "MANUFACTURER"; break;
    default: break;
    }
    const char* sub = nullptr;
    switch (subcommand) {
    case CAPI_REQ: sub = "REQ"; break;
    case CAPI_CONF: sub = "CONF"; break;
    case CAPI_IND: sub = "IND"; break;
    case CAPI_RESP: sub = "RESP"; break;
    default: break;
    }
    char buf[48];
    if (base && sub)
        std::snprintf(buf, sizeof buf, "%s_%s", base, sub);
    else
        std::snprintf(buf, sizeof buf, "MSG_%02X_%02X", command, subcommand);
    return buf;
}
