#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the simulator plays: the listening port, the B channel, and the
// devices the exchange knows by number. Filled from the command line and
// from configuration files, which take the same options one per line.
class CSimConfig {
public:
    // How the far end reacts to a call.
    enum class EAnswer {
        Demo,     // answers; the built-in demo device serves the tunnel
        Forward,  // answers; each tunnelled connection goes to 127.0.0.1:ForwardPort
        Busy,     // DISCONNECT_IND 0x3491
        NoAnswer, // rings, then DISCONNECT_IND 0x3492
        RefuseB3, // answers, but refuses the B3 connection
    };

    // One device on the exchange.
    struct SDevice {
        std::string Number;                // called number that reaches it
        EAnswer Answer = EAnswer::Demo;    // its behaviour
        std::uint16_t ForwardPort = 0;     // HTTP server for EAnswer::Forward
        std::int64_t NoAnswerMs = 5000;    // ringing time before 0x3492
        std::uint16_t RefuseInfo = 0x3003; // CONNECT_B3_CONF info for EAnswer::RefuseB3
        std::uint64_t ClearAfterBytes = 0; // network clears (0x3490) after this many B-channel bytes; 0 never
    };

    // An incoming call offered to every application that registers.
    struct SIncoming {
        std::string Calling;        // number of the caller
        std::string Called = "0";   // number called
        std::int64_t DelayMs = 1000; // after the registration
    };

    std::uint16_t Port = 0;            // 0: the system chooses
    std::uint32_t RateBytesPerSecond = 8000; // each way; 0 unlimited
    std::int64_t SetupDelayMs = 0;     // from CONNECT_CONF to the far end's reaction
    std::string TracePath;             // empty: no trace; "-": standard output
    std::optional<SIncoming> Incoming; // call offered to registered clients
    std::vector<SDevice> Devices;      // known numbers

    // Parses the command line (without the program name). Returns false with
    // an error for an unknown option or a bad value. help is set for -h.
    bool ParseArgs(const std::vector<std::string>& args, bool& help, std::string& error);
    // Reads options from a file: "name value" per line, # starts a comment.
    bool LoadFile(const std::string& path, std::string& error);
    // One option by name (without dashes) and value.
    bool Apply(const std::string& name, const std::string& value, std::string& error);
    // Adds the practice devices when none were configured.
    void AddDefaultDevices();

    const SDevice* FindDevice(const std::string& number) const;

    static bool ParseDevice(const std::string& text, SDevice& device, std::string& error);
    static std::string Usage();
};
