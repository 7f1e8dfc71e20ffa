#include "sim/CCapiTrace.h"

#include "sim/CByteReader.h"

#include <cstdio>

namespace {

std::string Hex(std::uint32_t v, int width)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", width, v);
    return buf;
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    std::string out;
    char buf[4];
    for (auto b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out.empty() ? "-" : out;
}

} // namespace

std::string CCapiTrace::NumberDigits(std::span<const std::uint8_t> content)
{
    if (content.empty())
        return "-";
    std::size_t i = 1;
    // An octet without the extension bit is followed by the presentation octet.
    if ((content[0] & 0x80) == 0 && content.size() > 1)
        i = 2;
    std::string digits;
    for (; i < content.size(); ++i) {
        char c = static_cast<char>(content[i]);
        digits += (c > 0x20 && c < 0x7F) ? c : '?';
    }
    return digits.empty() ? "-" : digits;
}

std::string CCapiTrace::Preview(std::span<const std::uint8_t> bytes, std::size_t limit)
{
    std::string out = "\"";
    char buf[8];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::uint8_t b = bytes[i];
        if (b == '\r')
            out += "\\r";
        else if (b == '\n')
            out += "\\n";
        else if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b >= 0x20 && b < 0x7F)
            out += static_cast<char>(b);
        else {
            std::snprintf(buf, sizeof buf, "\\x%02x", b);
            out += buf;
        }
    }
    out += bytes.size() > limit ? "\"..." : "\"";
    return out;
}

std::string CCapiTrace::Describe(const CCapiMessage& msg)
{
    std::string line = msg.Name() + " appl=" + std::to_string(msg.ApplId) + " msg=" + std::to_string(msg.Number);
    CByteReader in(msg.Params);
    auto add = [&line](const std::string& name, const std::string& value) { line += " " + name + "=" + value; };
    std::uint32_t address = 0;
    auto addr = [&](const char* name) {
        address = in.U32();
        add(name, Hex(address, 0));
    };
    auto info = [&](const char* name) { add(name, Hex(in.U16(), 4)); };
    std::uint16_t key = static_cast<std::uint16_t>(msg.Command | (msg.Subcommand << 8));
    switch (key) {
    case CAPI_CONNECT | (CAPI_REQ << 8): {
        add("ctrl", std::to_string(in.U32()));
        add("cip", std::to_string(in.U16()));
        auto called = in.Struct();
        auto calling = in.Struct();
        in.Struct(); // called subaddress
        auto callingSub = in.Struct();
        auto bprot = in.Struct();
        add("called", NumberDigits(called));
        add("calling", NumberDigits(calling));
        add("callingsub", HexBytes(callingSub));
        CByteReader b(bprot);
        std::uint16_t b1 = b.U16(), b2 = b.U16(), b3 = b.U16();
        if (b.Ok())
            add("bprot", std::to_string(b1) + "/" + std::to_string(b2) + "/" + std::to_string(b3));
        break;
    }
    case CAPI_CONNECT | (CAPI_IND << 8): {
        addr("plci");
        add("cip", std::to_string(in.U16()));
        auto called = in.Struct();
        auto calling = in.Struct();
        add("called", NumberDigits(called));
        add("calling", NumberDigits(calling));
        break;
    }
    case CAPI_CONNECT | (CAPI_RESP << 8):
        addr("plci");
        add("reject", std::to_string(in.U16()));
        break;
    case CAPI_CONNECT_ACTIVE | (CAPI_IND << 8): {
        addr("plci");
        auto connected = in.Struct();
        add("connected", NumberDigits(connected));
        break;
    }
    case CAPI_CONNECT_ACTIVE | (CAPI_RESP << 8):
    case CAPI_DISCONNECT | (CAPI_RESP << 8):
    case CAPI_INFO | (CAPI_RESP << 8):
    case CAPI_DISCONNECT | (CAPI_REQ << 8):
    case CAPI_ALERT | (CAPI_REQ << 8):
        addr("plci");
        break;
    case CAPI_CONNECT_B3 | (CAPI_REQ << 8):
        addr("plci");
        break;
    case CAPI_CONNECT_B3 | (CAPI_RESP << 8):
        addr("ncci");
        add("reject", std::to_string(in.U16()));
        break;
    case CAPI_CONNECT_B3_ACTIVE | (CAPI_IND << 8):
    case CAPI_CONNECT_B3_ACTIVE | (CAPI_RESP << 8):
    case CAPI_CONNECT_B3 | (CAPI_IND << 8):
    case CAPI_DISCONNECT_B3 | (CAPI_REQ << 8):
    case CAPI_DISCONNECT_B3 | (CAPI_RESP << 8):
    case CAPI_RESET_B3 | (CAPI_REQ << 8):
        addr("ncci");
        break;
    case CAPI_CONNECT | (CAPI_CONF << 8):
    case CAPI_DISCONNECT | (CAPI_CONF << 8):
    case CAPI_ALERT | (CAPI_CONF << 8):
    case CAPI_INFO | (CAPI_CONF << 8):
    case CAPI_SELECT_B_PROTOCOL | (CAPI_CONF << 8):
        addr("plci");
        info("info");
        break;
    case CAPI_CONNECT_B3 | (CAPI_CONF << 8):
    case CAPI_DISCONNECT_B3 | (CAPI_CONF << 8):
    case CAPI_RESET_B3 | (CAPI_CONF << 8):
        addr("ncci");
        info("info");
        break;
    case CAPI_DISCONNECT_B3 | (CAPI_IND << 8):
        addr("ncci");
        info("reason");
        break;
    case CAPI_DISCONNECT | (CAPI_IND << 8):
        addr("plci");
        info("reason");
        break;
    case CAPI_LISTEN | (CAPI_REQ << 8):
        add("ctrl", std::to_string(in.U32()));
        add("infomask", Hex(in.U32(), 0));
        add("cipmask", Hex(in.U32(), 0));
        break;
    case CAPI_LISTEN | (CAPI_CONF << 8):
        add("ctrl", std::to_string(in.U32()));
        info("info");
        break;
    case CAPI_DATA_B3 | (CAPI_REQ << 8):
    case CAPI_DATA_B3 | (CAPI_IND << 8): {
        addr("ncci");
        in.U32(); // 32-bit data pointer, meaningless on the wire
        std::uint16_t length = in.U16();
        add("len", std::to_string(length));
        add("handle", std::to_string(in.U16()));
        add("flags", Hex(in.U16(), 0));
        if (!msg.Data.empty()) {
            add("tag", Hex(msg.Data[0], 2));
            add("data", Preview(std::span(msg.Data).subspan(1), 24));
        }
        break;
    }
    case CAPI_DATA_B3 | (CAPI_CONF << 8):
        addr("ncci");
        add("handle", std::to_string(in.U16()));
        info("info");
        break;
    case CAPI_DATA_B3 | (CAPI_RESP << 8):
        addr("ncci");
        add("handle", std::to_string(in.U16()));
        break;
    default:
        add("params", HexBytes(msg.Params));
        return line;
    }
    if (!in.Ok())
        line += " (truncated)";
    return line;
}
