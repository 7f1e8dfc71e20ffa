#include "sim/CSimConfig.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-' || v > max)
        return false;
    value = v;
    return true;
}

bool ValidNumber(const std::string& number)
{
    if (number.empty() || number.size() > 32)
        return false;
    for (char c : number) {
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#'))
            return false;
    }
    return true;
}

std::string Trim(const std::string& s)
{
    auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

} // namespace

bool CSimConfig::ParseDevice(const std::string& text, SDevice& device, std::string& error)
{
    auto eq = text.find('=');
    if (eq == std::string::npos) {
        error = "device \"" + text + "\": expected NUMBER=BEHAVIOUR";
        return false;
    }
    device = SDevice {};
    device.Number = text.substr(0, eq);
    if (!ValidNumber(device.Number)) {
        error = "device \"" + text + "\": a number has 1 to 32 digits, * or #";
        return false;
    }
    std::string rest = text.substr(eq + 1);
    bool answerSet = false;
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        auto comma = rest.find(',', pos);
        std::string item = rest.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? rest.size() + 1 : comma + 1;
        auto ieq = item.find('=');
        std::string key = item.substr(0, ieq);
        std::string value = ieq == std::string::npos ? std::string() : item.substr(ieq + 1);
        std::uint64_t n = 0;
        bool ok = true;
        if (key == "demo" && value.empty()) {
            device.Answer = EAnswer::Demo;
        } else if (key == "forward") {
            ok = ParseUnsigned(value, 65535, n) && n > 0;
            device.Answer = EAnswer::Forward;
            device.ForwardPort = static_cast<std::uint16_t>(n);
        } else if (key == "busy" && value.empty()) {
            device.Answer = EAnswer::Busy;
        } else if (key == "noanswer") {
            device.Answer = EAnswer::NoAnswer;
            if (!value.empty()) {
                ok = ParseUnsigned(value, 3600000, n);
                device.NoAnswerMs = static_cast<std::int64_t>(n);
            }
        } else if (key == "refuse-b3") {
            device.Answer = EAnswer::RefuseB3;
            if (!value.empty()) {
                ok = ParseUnsigned(value, 0xFFFF, n) && n != 0;
                device.RefuseInfo = static_cast<std::uint16_t>(n);
            }
        } else if (key == "clear-after") {
            if (!ParseUnsigned(value, UINT64_MAX, n) || n == 0) {
                error = "device \"" + text + "\": bad item \"" + item + "\"";
                return false;
            }
            device.ClearAfterBytes = n;
            continue;
        } else {
            ok = false;
        }
        if (!ok) {
            error = "device \"" + text + "\": bad item \"" + item + "\"";
            return false;
        }
        if (answerSet) {
            error = "device \"" + text + "\": more than one behaviour";
            return false;
        }
        answerSet = true;
    }
    if (!answerSet)
        device.Answer = EAnswer::Demo;
    return true;
}

bool CSimConfig::Apply(const std::string& name, const std::string& value, std::string& error)
{
    std::uint64_t n = 0;
    if (name == "port") {
        if (!ParseUnsigned(value, 65535, n)) {
            error = "port: expected 0 to 65535, got \"" + value + "\"";
            return false;
        }
        Port = static_cast<std::uint16_t>(n);
    } else if (name == "rate") {
        if (!ParseUnsigned(value, 100000000, n)) {
            error = "rate: expected bytes per second (0 unlimited), got \"" + value + "\"";
            return false;
        }
        RateBytesPerSecond = static_cast<std::uint32_t>(n);
    } else if (name == "setup-delay") {
        if (!ParseUnsigned(value, 3600000, n)) {
            error = "setup-delay: expected milliseconds, got \"" + value + "\"";
            return false;
        }
        SetupDelayMs = static_cast<std::int64_t>(n);
    } else if (name == "trace") {
        if (value.empty()) {
            error = "trace: expected a file name or -";
            return false;
        }
        TracePath = value;
    } else if (name == "device") {
        SDevice device;
        if (!ParseDevice(value, device, error))
            return false;
        for (auto& existing : Devices) {
            if (existing.Number == device.Number) {
                existing = device;
                return true;
            }
        }
        Devices.push_back(device);
    } else if (name == "incoming") {
        if (!ValidNumber(value)) {
            error = "incoming: expected the caller's number, got \"" + value + "\"";
            return false;
        }
        if (!Incoming)
            Incoming = SIncoming{};
        Incoming->Calling = value;
    } else if (name == "incoming-delay") {
        if (!ParseUnsigned(value, 3600000, n)) {
            error = "incoming-delay: expected milliseconds, got \"" + value + "\"";
            return false;
        }
        if (!Incoming)
            Incoming = SIncoming{};
        Incoming->DelayMs = static_cast<std::int64_t>(n);
    } else if (name == "config") {
        return LoadFile(value, error);
    } else {
        error = "unknown option \"" + name + "\"";
        return false;
    }
    return true;
}

bool CSimConfig::ParseArgs(const std::vector<std::string>& args, bool& help, std::string& error)
{
    help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            help = true;
            return true;
        }
        if (arg.rfind("--", 0) != 0) {
            error = "unexpected argument \"" + arg + "\"";
            return false;
        }
        std::string name = arg.substr(2);
        std::string value;
        auto eq = name.find('=');
        if (eq != std::string::npos && name.substr(0, eq) != "device") {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        } else if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = "device";
        } else {
            if (i + 1 >= args.size()) {
                error = "option --" + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!Apply(name, value, error))
            return false;
    }
    if (Incoming && Incoming->Calling.empty()) {
        error = "incoming-delay given without --incoming";
        return false;
    }
    return true;
}

bool CSimConfig::LoadFile(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read configuration file \"" + path + "\"";
        return false;
    }
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (lineNo > 10000) {
            error = path + ": too many lines";
            return false;
        }
        auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = Trim(line);
        if (line.empty())
            continue;
        auto space = line.find_first_of(" \t");
        std::string name = line.substr(0, space);
        std::string value = space == std::string::npos ? std::string() : Trim(line.substr(space));
        if (name == "config") {
            error = path + ":" + std::to_string(lineNo) + ": configuration files do not include others";
            return false;
        }
        if (!Apply(name, value, error)) {
            error = path + ":" + std::to_string(lineNo) + ": " + error;
            return false;
        }
    }
    return true;
}

void CSimConfig::AddDefaultDevices()
{
    if (!Devices.empty())
        return;
    std::string error;
    for (const char* spec : { "100=demo", "101=busy", "102=noanswer", "103=refuse-b3", "104=demo,clear-after=20000" })
        Apply("device", spec, error);
}

const CSimConfig::SDevice* CSimConfig::FindDevice(const std::string& number) const
{
    for (auto& device : Devices) {
        if (device.Number == number)
            return &device;
    }
    return nullptr;
}

std::string CSimConfig::Usage()
{
    return "usage: kestrin-sim [options]\n"
           "  --port N               TCP port on 127.0.0.1 (0: the system chooses; default 0)\n"
           "  --device NUMBER=SPEC   a device on the exchange (repeatable); SPEC is one of\n"
           "                           demo | forward=PORT | busy | noanswer[=MS] | refuse-b3[=INFO]\n"
           "                         optionally followed by ,clear-after=BYTES\n"
           "  --rate BYTES           B-channel rate in bytes/s each way (default 8000, 0 unlimited)\n"
           "  --setup-delay MS       delay before the far end reacts to a call (default 0)\n"
           "  --incoming NUMBER      offer an incoming call from NUMBER to each registered client\n"
           "  --incoming-delay MS    ... this long after its registration (default 1000)\n"
           "  --trace FILE           write one line per CAPI message (- for standard output)\n"
           "  --config FILE          read options from FILE, one \"name value\" per line\n"
           "Without any --device, the numbers 100 (demo), 101 (busy), 102 (no answer),\n"
           "103 (refuses B3) and 104 (demo, cleared after 20000 bytes) are configured.\n";
}
