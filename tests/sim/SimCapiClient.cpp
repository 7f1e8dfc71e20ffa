// A small CAPI application on the real libcapi20 that plays the caller's side
// against the simulator, the way the product does: one process per client, so
// that HOME (and with it .capi20rc) is set before the library loads. It prints
// one line per event on standard output for the tests to read, and always
// ends by releasing its application, never by a signal.

#include "CCapiLibrary.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

void Put16(Bytes& b, std::size_t at, unsigned v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
unsigned Get16(const std::uint8_t* m, std::size_t at) { return m[at] | (m[at + 1] << 8); }
std::uint32_t Get32(const std::uint8_t* m, std::size_t at)
{
    return m[at] | (m[at + 1] << 8) | (m[at + 2] << 16) | (static_cast<std::uint32_t>(m[at + 3]) << 24);
}

std::uint32_t Fnv1a(const std::uint8_t* p, std::size_t n, std::uint32_t h = 2166136261u)
{
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

// One request of the script and what came back for it.
struct SRequest {
    std::string Head;     // request line and headers
    Bytes Body;           // request body
    Bytes Answer;         // every answer byte
};

struct SOptions {
    std::string Mode;                 // "queries" or "call"
    std::string Number;               // called number
    std::vector<SRequest> Requests;   // sent one after the other
    std::size_t Chunk = 2047;         // request bytes per block
    bool HangUp = false;              // clear the call when the script is done
    bool IgnoreIndications = false;   // never answer DATA_B3_IND
    long VanishAfterBytes = -1;       // release in mid-call after this many answer bytes
    bool CloseWithoutRequest = false; // open a connection and close it at once
    bool Malformed = false;           // send a broken frame after registering
    int DeadlineMs = 30000;           // the client gives up and releases after this
};

class CClient {
public:
    CClient(CCapiLibrary& lib, SOptions& options) : m_lib(lib), m_opt(options) {}

    int RunQueries()
    {
        unsigned installed = m_lib.IsInstalled();
        std::printf("installed=0x%04x\n", installed);
        unsigned char buffer[128] = {};
        m_lib.GetManufacturer(1, buffer);
        std::printf("manufacturer=%s\n", reinterpret_cast<char*>(buffer));
        unsigned version[4] = {};
        m_lib.GetVersion(1, reinterpret_cast<unsigned char*>(version));
        std::printf("version=%u.%u.%u.%u\n", version[0], version[1], version[2], version[3]);
        std::memset(buffer, 0, sizeof buffer);
        m_lib.GetSerialNumber(1, buffer);
        std::printf("serial=%s\n", reinterpret_cast<char*>(buffer));
        std::memset(buffer, 0, sizeof buffer);
        unsigned info = m_lib.GetProfile(0, buffer);
        std::printf("profile info=0x%04x controllers=%u\n", info, Get16(buffer, 0));
        std::memset(buffer, 0, sizeof buffer);
        info = m_lib.GetProfile(1, buffer);
        std::printf("profile1 info=0x%04x bchannels=%u\n", info, Get16(buffer, 2));
        return 0;
    }

    int RunCall()
    {
        unsigned result = m_lib.Register(2, 7, 2048, &m_appl);
        std::printf("register=0x%04x appl=%u\n", result, m_appl);
        if (result != 0)
            return 1;
        int fd = m_lib.Fileno(m_appl);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::fflush(stdout);
        if (m_opt.Malformed)
            return RunMalformed(fd);
        if (m_opt.Mode == "call")
            SendConnectReq();
        auto deadline = Clock::now() + std::chrono::milliseconds(m_opt.DeadlineMs);
        while (!m_bDone && Clock::now() < deadline) {
            if (m_hangUpAt && Clock::now() >= *m_hangUpAt) {
                m_hangUpAt.reset();
                SendPlci(0x04, 0x80, m_plci & 0xFFFF, 13); // DISCONNECT_REQ
            }
            timeval tv { 0, 50000 };
            if (m_lib.WaitForMessage(m_appl, &tv) != 0)
                continue;
            unsigned char* msg = nullptr;
            unsigned got = m_lib.GetMessage(m_appl, &msg);
            if (got != 0) {
                std::printf("get_message=0x%04x\n", got);
                std::fflush(stdout);
                if (++m_nFailures > 20)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            Handle(msg);
            std::fflush(stdout);
            if (m_opt.VanishAfterBytes >= 0 && m_nAnswerBytes >= m_opt.VanishAfterBytes) {
                std::printf("vanish after %ld bytes\n", m_nAnswerBytes);
                break;
            }
        }
        if (!m_bDone && Clock::now() >= deadline)
            std::printf("deadline\n");
        m_lib.Release(m_appl);
        std::printf("released\n");
        return 0;
    }

private:
    int RunMalformed(int fd)
    {
        // A frame whose length field is shorter than any message.
        const std::uint8_t bad[] = { 0x00, 0x05, 0x01, 0x02, 0x03 };
        ssize_t n = ::send(fd, bad, sizeof bad, MSG_NOSIGNAL);
        std::printf("sent malformed frame (%zd)\n", n);
        auto deadline = Clock::now() + std::chrono::milliseconds(m_opt.DeadlineMs);
        while (Clock::now() < deadline) {
            timeval tv { 0, 50000 };
            if (m_lib.WaitForMessage(m_appl, &tv) != 0)
                continue;
            unsigned char* msg = nullptr;
            unsigned got = m_lib.GetMessage(m_appl, &msg);
            std::printf("get_message=0x%04x\n", got);
            if (got != 0)
                break;
        }
        m_lib.Release(m_appl);
        std::printf("released\n");
        return 0;
    }

    unsigned Next()
    {
        m_nNumber = m_nNumber >= 0x7FFF ? 1 : m_nNumber + 1;
        return m_nNumber;
    }

    void Put(Bytes& msg, unsigned char command, unsigned char sub, unsigned number)
    {
        Put16(msg, 0, static_cast<unsigned>(msg.size()));
        Put16(msg, 2, m_appl);
        msg[4] = command;
        msg[5] = sub;
        Put16(msg, 6, number);
        msg.resize(msg.size() + 2176);
        unsigned r = m_lib.PutMessage(m_appl, msg.data());
        if (r != 0)
            std::printf("put_message=0x%04x\n", r);
    }

    void SendPlci(unsigned char command, unsigned char sub, std::uint32_t address, std::size_t length, unsigned number = 0)
    {
        Bytes msg(length, 0);
        Put32(msg, 8, address);
        Put(msg, command, sub, number ? number : Next());
    }

    void SendConnectReq()
    {
        Bytes msg(8, 0);
        auto add = [&](std::initializer_list<std::uint8_t> bytes) { msg.insert(msg.end(), bytes); };
        msg.resize(14);
        Put32(msg, 8, 1);
        Put16(msg, 12, 2);
        msg.push_back(static_cast<std::uint8_t>(m_opt.Number.size() + 1));
        msg.push_back(0x80);
        for (char c : m_opt.Number)
            msg.push_back(static_cast<std::uint8_t>(c));
        add({ 0x04, 0x00, 0x80, '4', '5' });
        add({ 0x00 });
        add({ 0x04, 0xA0, 0x5B, 0x17, 0x00 });
        add({ 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0 });
        add({ 0, 0, 0, 0 });
        Put(msg, 0x02, 0x80, Next());
    }

    void SendBlock(const Bytes& block)
    {
        // The 64-bit form: length 30, Data 0, Data64 the block's address.
        Bytes msg(30, 0);
        Put32(msg, 8, m_ncci);
        Put16(msg, 16, static_cast<unsigned>(block.size()));
        unsigned number = Next();
        Put16(msg, 18, number);
        std::uint64_t address = reinterpret_cast<std::uintptr_t>(block.data());
        std::memcpy(msg.data() + 22, &address, 8);
        m_bOutstanding = true;
        Put(msg, 0x86, 0x80, number);
    }

    // Queues the blocks of the next request of the script.
    void StartRequest()
    {
        if (m_nRequest >= m_opt.Requests.size()) {
            if (m_opt.HangUp) {
                std::printf("hangup\n");
                SendPlci(0x84, 0x80, m_ncci, 13); // DISCONNECT_B3_REQ
                m_hangUpAt = Clock::now() + std::chrono::milliseconds(200);
            } else if (m_opt.VanishAfterBytes < 0 && !m_opt.IgnoreIndications) {
                m_bDone = true;
            }
            return;
        }
        SRequest& r = m_opt.Requests[m_nRequest];
        m_queue.push_back(Bytes { 0x01 });
        Bytes all(r.Head.begin(), r.Head.end());
        all.insert(all.end(), r.Body.begin(), r.Body.end());
        for (std::size_t at = 0; at < all.size(); at += m_opt.Chunk) {
            Bytes block { 0x00 };
            std::size_t n = std::min(m_opt.Chunk, all.size() - at);
            block.insert(block.end(), all.begin() + static_cast<std::ptrdiff_t>(at), all.begin() + static_cast<std::ptrdiff_t>(at + n));
            m_queue.push_back(std::move(block));
        }
        if (m_opt.CloseWithoutRequest)
            m_queue.push_back(Bytes { 0x00 });
        Pump();
    }

    void Pump()
    {
        if (m_bOutstanding || m_queue.empty())
            return;
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        SendBlock(m_current);
    }

    void FinishResponse()
    {
        SRequest& r = m_opt.Requests[m_nRequest];
        std::string text(r.Answer.begin(), r.Answer.end());
        auto headEnd = text.find("\r\n\r\n");
        std::string status = text.substr(0, text.find("\r\n"));
        std::size_t bodyAt = headEnd == std::string::npos ? text.size() : headEnd + 4;
        std::string head = text.substr(0, bodyAt);
        std::string xfnv = "-";
        auto x = head.find("X-Checksum-Fnv1a: ");
        if (x != std::string::npos)
            xfnv = head.substr(x + 18, 8);
        std::uint32_t fnv = Fnv1a(r.Answer.data() + bodyAt, r.Answer.size() - bodyAt);
        std::printf("response %zu status=\"%s\" body=%zu fnv=%08x xfnv=%s\n", m_nRequest + 1, status.c_str(),
            r.Answer.size() - bodyAt, fnv, xfnv.c_str());
        std::string body = text.substr(bodyAt);
        if (body.size() < 200 && body.find('<') == std::string::npos)
            std::printf("text %zu %s", m_nRequest + 1, body.c_str());
        else {
            // Lines of interest in a page, so tests can look for them.
            for (const char* key : { "id=\"name\">", "id=\"gespeichert\"", "window.close()", "Fehler" }) {
                auto at = body.find(key);
                if (at != std::string::npos)
                    std::printf("page %zu %s\n", m_nRequest + 1, body.substr(at, body.find('<', at + std::strlen(key)) - at).c_str());
            }
        }
        ++m_nRequest;
        StartRequest();
    }

    void Handle(unsigned char* m)
    {
        unsigned length = Get16(m, 0);
        unsigned command = m[4], sub = m[5], number = Get16(m, 6);
        std::uint32_t address = Get32(m, 8);
        switch ((sub << 8) | command) {
        case 0x8102: // CONNECT_CONF
            std::printf("recv CONNECT_CONF plci=0x%x info=0x%04x\n", address, Get16(m, 12));
            m_plci = address;
            if (Get16(m, 12) != 0)
                m_bDone = true;
            break;
        case 0x8203: // CONNECT_ACTIVE_IND
            std::printf("recv CONNECT_ACTIVE_IND plci=0x%x\n", address);
            SendPlci(0x03, 0x83, address, 12, number);
            SendPlci(0x82, 0x80, address, 13);
            break;
        case 0x8182: // CONNECT_B3_CONF
            std::printf("recv CONNECT_B3_CONF ncci=0x%x info=0x%04x\n", address, Get16(m, 12));
            if (Get16(m, 12) != 0)
                SendPlci(0x04, 0x80, address & 0xFFFF, 13);
            break;
        case 0x8283: // CONNECT_B3_ACTIVE_IND
            std::printf("recv CONNECT_B3_ACTIVE_IND ncci=0x%x\n", address);
            m_ncci = address;
            SendPlci(0x83, 0x83, address, 12);
            StartRequest();
            break;
        case 0x8186: // DATA_B3_CONF
            if (Get16(m, 14) != 0)
                std::printf("recv DATA_B3_CONF info=0x%04x\n", Get16(m, 14));
            m_bOutstanding = false;
            Pump();
            break;
        case 0x8286: { // DATA_B3_IND
            unsigned dataLength = Get16(m, 16);
            unsigned handle = Get16(m, 18);
            std::uint64_t address64 = 0;
            if (length >= 30)
                std::memcpy(&address64, m + 22, 8);
            const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address64));
            if (dataLength > 2048 || !data) {
                std::printf("bad DATA_B3_IND length=%u\n", dataLength);
            } else if (dataLength >= 1 && data[0] == 0x00 && m_nRequest < m_opt.Requests.size()) {
                auto& answer = m_opt.Requests[m_nRequest].Answer;
                answer.insert(answer.end(), data + 1, data + dataLength);
                m_nAnswerBytes += dataLength - 1;
            } else if (dataLength >= 1 && data[0] == 0x01) {
                std::printf("recv end of connection\n");
            }
            if (!m_opt.IgnoreIndications)
                SendPlciHandle(address, handle);
            if (dataLength >= 1 && data && data[0] == 0x01 && m_nRequest < m_opt.Requests.size())
                FinishResponse();
            break;
        }
        case 0x8284: // DISCONNECT_B3_IND
            std::printf("recv DISCONNECT_B3_IND ncci=0x%x reason=0x%04x\n", address, Get16(m, 12));
            SendPlci(0x84, 0x83, address, 12);
            break;
        case 0x8204: // DISCONNECT_IND
            std::printf("recv DISCONNECT_IND plci=0x%x reason=0x%04x\n", address, Get16(m, 12));
            SendPlci(0x04, 0x83, address, 12);
            if ((m_plci != 0 && address == m_plci) || (m_opt.Mode == "incoming" && m_bDeclined))
                m_bDone = true;
            break;
        case 0x8202: { // CONNECT_IND: declined, as the product does
            std::printf("recv CONNECT_IND plci=0x%x\n", address);
            Bytes msg(25, 0);
            Put32(msg, 8, address & 0xFFFF);
            Put16(msg, 12, 1);
            const std::uint8_t tail[] = { 0x00, 0x00, 0x00, 0x06, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 };
            std::memcpy(msg.data() + 14, tail, sizeof tail);
            Put(msg, 0x02, 0x83, number);
            m_bDeclined = true;
            break;
        }
        case 0x8184: // DISCONNECT_B3_CONF
        case 0x8104: // DISCONNECT_CONF
            std::printf("recv %s info=0x%04x\n", command == 0x84 ? "DISCONNECT_B3_CONF" : "DISCONNECT_CONF", Get16(m, 12));
            break;
        default:
            std::printf("recv other %02x %02x\n", command, sub);
            break;
        }
    }

    void SendPlciHandle(std::uint32_t ncci, unsigned handle)
    {
        Bytes msg(14, 0);
        Put32(msg, 8, ncci);
        Put16(msg, 12, handle);
        Put(msg, 0x86, 0x83, Next());
    }

    CCapiLibrary& m_lib;              // the bound library
    SOptions& m_opt;                  // what to do
    unsigned m_appl = 0;              // registered application
    unsigned m_nNumber = 1;           // message number counter
    std::uint32_t m_plci = 0;         // PLCI of the outgoing call
    std::uint32_t m_ncci = 0;         // NCCI once B3 is up
    std::deque<Bytes> m_queue;        // blocks waiting to be sent
    Bytes m_current;                  // block of the outstanding DATA_B3_REQ
    bool m_bOutstanding = false;      // a DATA_B3_REQ awaits its CONF
    std::size_t m_nRequest = 0;       // request of the script in progress
    long m_nAnswerBytes = 0;          // answer bytes received in all
    bool m_bDone = false;             // the call is over
    bool m_bDeclined = false;         // an incoming call was declined
    int m_nFailures = 0;              // get_message failures in a row
    std::optional<Clock::time_point> m_hangUpAt; // when DISCONNECT_REQ follows DISCONNECT_B3_REQ
};

Bytes Generated(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>((i * 13 + (i >> 9)) & 0xFF);
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    SOptions opt;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fprintf(stderr, "usage: sim_capi_client queries | call NUMBER [--get PATH] [--post PATH SIZE] [--form PATH BODY]\n"
                             "  [--chunk N] [--hangup] [--ignore-ind] [--vanish-after N] [--close-without-request]\n"
                             "  [--malformed] [--deadline MS] | incoming [--deadline MS]\n");
        return 2;
    }
    opt.Mode = args[0];
    std::size_t i = 1;
    if (opt.Mode == "call" && i < args.size())
        opt.Number = args[i++];
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&]() { return i + 1 < args.size() ? args[++i] : std::string(); };
        if (a == "--get") {
            opt.Requests.push_back({ "GET " + next() + " HTTP/1.1\r\nHost: device\r\nConnection: close\r\n\r\n", {}, {} });
        } else if (a == "--post") {
            std::string path = next();
            Bytes body = Generated(std::stoul(next()));
            std::uint32_t fnv = Fnv1a(body.data(), body.size());
            std::printf("upload fnv1a=%08x bytes=%zu\n", fnv, body.size());
            opt.Requests.push_back({ "POST " + path + " HTTP/1.1\r\nHost: device\r\nContent-Type: application/octet-stream\r\nContent-Length: "
                    + std::to_string(body.size()) + "\r\n\r\n",
                body, {} });
        } else if (a == "--form") {
            std::string path = next();
            std::string body = next();
            opt.Requests.push_back({ "POST " + path + " HTTP/1.1\r\nHost: device\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                    + std::to_string(body.size()) + "\r\n\r\n",
                Bytes(body.begin(), body.end()), {} });
        } else if (a == "--chunk") {
            opt.Chunk = std::max<std::size_t>(1, std::min<std::size_t>(2047, std::stoul(next())));
        } else if (a == "--hangup") {
            opt.HangUp = true;
        } else if (a == "--ignore-ind") {
            opt.IgnoreIndications = true;
        } else if (a == "--vanish-after") {
            opt.VanishAfterBytes = std::stol(next());
        } else if (a == "--close-without-request") {
            opt.CloseWithoutRequest = true;
            opt.Requests.push_back({ "", {}, {} });
        } else if (a == "--malformed") {
            opt.Malformed = true;
        } else if (a == "--deadline") {
            opt.DeadlineMs = std::stoi(next());
        } else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    CCapiLibrary lib;
    std::string error;
    if (!lib.Load(error)) {
        std::printf("load failed: %s\n", error.c_str());
        return 1;
    }
    CClient client(lib, opt);
    int rc = opt.Mode == "queries" ? client.RunQueries() : client.RunCall();
    std::printf("done\n");
    return rc;
}
