#pragma once

#include <cstdint>

// COMMON-ISDN-API 2.0 values shared by the codec, the dispatch and the controller.
namespace Capi {

// Info values (0 is success).
constexpr uint32_t INFO_OK = 0x0000;
constexpr uint32_t INFO_REGISTER_OS_RESOURCE = 0x1008;  // registration failed in the driver's transport
constexpr uint32_t INFO_LIBRARY_NOT_INSTALLED = 0x1009; // what libcapi20 answers when no driver is configured
constexpr uint32_t INFO_QUEUE_EMPTY = 0x1104;           // also the time-out of a bounded wait
constexpr uint32_t INFO_BUSY = 0x1107;
constexpr uint32_t INFO_OS_RESOURCE = 0x1108;           // the transport to the driver failed
constexpr uint32_t INFO_NOT_INSTALLED = 0x1109;         // no entry point bound, or no application
constexpr uint32_t INFO_ILLEGAL_PARAMETER = 0x2007;     // a parameter could not be coded

// Commands.
constexpr uint8_t CMD_ALERT = 0x01;
constexpr uint8_t CMD_CONNECT = 0x02;
constexpr uint8_t CMD_CONNECT_ACTIVE = 0x03;
constexpr uint8_t CMD_DISCONNECT = 0x04;
constexpr uint8_t CMD_LISTEN = 0x05;
constexpr uint8_t CMD_INFO = 0x08;
constexpr uint8_t CMD_SELECT_B_PROTOCOL = 0x41;
constexpr uint8_t CMD_CONNECT_B3 = 0x82;
constexpr uint8_t CMD_CONNECT_B3_ACTIVE = 0x83;
constexpr uint8_t CMD_DISCONNECT_B3 = 0x84;
constexpr uint8_t CMD_DATA_B3 = 0x86;
constexpr uint8_t CMD_RESET_B3 = 0x87;

// Subcommands.
constexpr uint8_t SUB_REQ = 0x80;
constexpr uint8_t SUB_CONF = 0x81;
constexpr uint8_t SUB_IND = 0x82;
constexpr uint8_t SUB_RESP = 0x83;

// Dispatch key: the word at offset 4, command in the low byte.
constexpr uint16_t Key(uint8_t command, uint8_t subcommand)
{
    return static_cast<uint16_t>(command | (subcommand << 8));
}

constexpr uint16_t KEY_ALERT_CONF = Key(CMD_ALERT, SUB_CONF);
constexpr uint16_t KEY_CONNECT_CONF = Key(CMD_CONNECT, SUB_CONF);
constexpr uint16_t KEY_CONNECT_IND = Key(CMD_CONNECT, SUB_IND);
constexpr uint16_t KEY_CONNECT_ACTIVE_IND = Key(CMD_CONNECT_ACTIVE, SUB_IND);
constexpr uint16_t KEY_DISCONNECT_CONF = Key(CMD_DISCONNECT, SUB_CONF);
constexpr uint16_t KEY_DISCONNECT_IND = Key(CMD_DISCONNECT, SUB_IND);
constexpr uint16_t KEY_LISTEN_CONF = Key(CMD_LISTEN, SUB_CONF);
constexpr uint16_t KEY_INFO_CONF = Key(CMD_INFO, SUB_CONF);
constexpr uint16_t KEY_INFO_IND = Key(CMD_INFO, SUB_IND);
constexpr uint16_t KEY_SELECT_B_PROTOCOL_CONF = Key(CMD_SELECT_B_PROTOCOL, SUB_CONF);
constexpr uint16_t KEY_CONNECT_B3_CONF = Key(CMD_CONNECT_B3, SUB_CONF);
constexpr uint16_t KEY_CONNECT_B3_IND = Key(CMD_CONNECT_B3, SUB_IND);
constexpr uint16_t KEY_CONNECT_B3_ACTIVE_IND = Key(CMD_CONNECT_B3_ACTIVE, SUB_IND);
constexpr uint16_t KEY_DISCONNECT_B3_CONF = Key(CMD_DISCONNECT_B3, SUB_CONF);
constexpr uint16_t KEY_DATA_B3_CONF = Key(CMD_DATA_B3, SUB_CONF);
constexpr uint16_t KEY_DATA_B3_IND = Key(CMD_DATA_B3, SUB_IND);
constexpr uint16_t KEY_RESET_B3_CONF = Key(CMD_RESET_B3, SUB_CONF);

// Sizes.
constexpr int HEADER_SIZE = 8;
constexpr int MAX_MESSAGE = 212;      // no message of the system is longer
constexpr int MAX_DATA_BLOCK = 2048;  // maxBDataLen of the registration
// libcapi20 copies a DATA_B3_REQ's block right behind the message in the
// caller's buffer and reads two bytes past it, so every send buffer has room
// for a message, the largest block and that overrun.
constexpr int SEND_BUFFER_SIZE = 2176;
// The 64-bit form of DATA_B3_REQ and DATA_B3_IND: the 32-bit Data field is 0
// and the block's address is the qword at offset 22.
constexpr int DATA_B3_LENGTH = 30;
constexpr int DATA_B3_DATA64_OFFSET = 22;

// Registration sizes.
constexpr unsigned MAX_LOGICAL_CONNECTIONS = 2;
constexpr unsigned MAX_B_DATA_BLOCKS = 7;
constexpr unsigned MAX_B_DATA_LEN = 2048;

}  // namespace Capi
