// In-process benchmarks of the program's own objects with the real libcapi20
// and the simulator: the dial latency up to the device's first request bytes,
// and the load of a device page of HTML, CSS and two images in the embedded
// view at 64 kbit/s. Times come from this process's clock and the
// simulator's trace, both in local wall-clock milliseconds.
//   kestrin-bench-view [dial|pageload|all] [--runs N] [--setup-delay MS]
#include "CPageServer.h"
#include "CProcess.h"
#include "UiTestSupport.h"

#include "app/CKestrinApp.h"
#include "capi/CCapiProvider.h"
#include "relay/CMainFrame.h"
#include "relay/CServiceRelay.h"
#include "ui/CKestrinView.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWebEnginePage>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace {
constexpr int LINE_RATE = 8000;      // bytes per second each way: 64 kbit/s
constexpr int IMAGE_WIDTH = 58;      // the two images: 32-bit BMPs of about 13 KB each
constexpr int IMAGE_HEIGHT = 56;
constexpr int HTML_ROWS = 170;       // rows of the settings table, about 11 KB of HTML
constexpr int CSS_RULES = 90;        // about 3 KB of style sheet
constexpr int STEP_TIMEOUT_MS = 60000;

// Milliseconds since local midnight, the clock of the simulator's trace.
long long LocalMs(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&secs, &local);
    return ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000 + ms % 1000;
}

// One line of the trace that names a CAPI message.
struct TraceLine {
    long long ms;       // its time stamp, since local midnight
    std::string text;   // the whole line
};

// The trace lines after byte offset `from`; with the offset where they end.
std::vector<TraceLine> ReadTrace(const std::string& path, size_t from, size_t* end = nullptr)
{
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    if (end)
        *end = text.size();
    std::vector<TraceLine> lines;
    std::istringstream rest(text.substr(std::min(from, text.size())));
    for (std::string line; std::getline(rest, line);) {
        int h, m, s, ms;
        if (line.size() > 12 && std::sscanf(line.c_str(), "%d:%d:%d.%d", &h, &m, &s, &ms) == 4)
            lines.push_back(TraceLine{((h * 60LL + m) * 60 + s) * 1000 + ms, line});
    }
    return lines;
}

// The first line from `lines` that contains all of `parts`, or null.
const TraceLine* Find(const std::vector<TraceLine>& lines, std::initializer_list<const char*> parts)
{
    for (const TraceLine& line : lines) {
        bool all = true;
        for (const char* part : parts)
            all = all && line.text.find(part) != std::string::npos;
        if (all)
            return &line;
    }
    return nullptr;
}

// The value of `len=` in a data line, 0 when there is none.
long Length(const std::string& line)
{
    const size_t at = line.find(" len=");
    return at == std::string::npos ? 0 : std::atol(line.c_str() + at + 5);
}

std::string Bmp(int width, int height, uint8_t shade)
{
    const uint32_t pixels = static_cast<uint32_t>(width * height * 4);
    std::string b(54 + pixels, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    b[26] = 1;
    b[28] = 32;
    put32(34, pixels);
    for (uint32_t i = 0; i < pixels; ++i)
        b[54 + i] = static_cast<char>(i % 4 == 3 ? 0xFF : (shade + i * 7) & 0xFF);
    return b;
}

void AddDevicePage(CPageServer& server)
{
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Pumpwerk</title>"
                       "<link rel=\"icon\" href=\"data:,\"><link rel=\"stylesheet\" href=\"/style.css\"></head>"
                       "<body><h1>Pumpwerk 7</h1><img src=\"/pumpe.bmp\" alt=\"Pumpe\"><img src=\"/ventil.bmp\" alt=\"Ventil\">"
                       "<table>";
    for (int i = 0; i < HTML_ROWS; ++i)
        html += "<tr><td class=\"k\">Parameter " + std::to_string(i) + "</td><td class=\"v\">" + std::to_string(i * 37 % 1000)
                + "</td></tr>\n";
    html += "</table></body></html>\n";
    std::string css;
    for (int i = 0; i < CSS_RULES; ++i)
        css += ".r" + std::to_string(i) + " { margin: " + std::to_string(i % 9) + "px; color: #" + std::to_string(100 + i)
               + "; }\n";
    css += "td.k { font-weight: bold; } td.v { text-align: right; } img { width: 58px; height: 56px; }\n";
    server.Add("/", "text/html; charset=utf-8", html);
    server.Add("/style.css", "text/css", css);
    server.Add("/pumpe.bmp", "image/bmp", Bmp(IMAGE_WIDTH, IMAGE_HEIGHT, 0x20));
    server.Add("/ventil.bmp", "image/bmp", Bmp(IMAGE_WIDTH, IMAGE_HEIGHT, 0x90));
}

// A load finished in the view.
struct Load {
    std::chrono::system_clock::time_point when;  // when the signal came
    bool ok;                                     // its result
    QString path;                                // the page's URL path then
};

class CBench {
public:
    CBench(int setupDelayMs) : m_nSetupDelayMs(setupDelayMs) {}

    bool Start()
    {
        AddDevicePage(m_server);
        if (!m_home.isValid() || !m_server.Start()) {
            std::fprintf(stderr, "no private HOME or page server\n");
            return false;
        }
        m_strTrace = m_home.filePath("trace.log").toStdString();
        if (!m_sim.Start(SIM_BINARY, {"--port", "0", "--trace", m_strTrace, "--rate", std::to_string(LINE_RATE),
                                      "--setup-delay", std::to_string(m_nSetupDelayMs), "--device", "100=demo",
                                      "--device", "200=forward=" + std::to_string(m_server.Port())})) {
            std::fprintf(stderr, "the simulator did not start\n");
            return false;
        }
        std::string line;
        if (!m_sim.WaitForLine("listening on 127.0.0.1:", std::chrono::seconds(10), &line)) {
            std::fprintf(stderr, "the simulator did not say its port\n");
            return false;
        }
        {
            std::ofstream rc(m_home.filePath(".capi20rc").toStdString());
            rc << "REMOTE rcapi 127.0.0.1 " << std::stoi(line.substr(line.rfind(':') + 1)) << "\n";
        }
        qputenv("HOME", m_home.path().toLocal8Bit());
        UsePrivateProfile();
        m_pCapi = std::make_unique<CCapiProvider>();
        m_pApp = std::make_unique<CKestrinApp>(*m_pCapi);
        if (!m_pApp->InitInstance({"kestrin"})) {
            std::fprintf(stderr, "Kestrin did not start\n");
            return false;
        }
        QObject::connect(View().page(), &QWebEnginePage::loadFinished, [this](bool ok) {
            m_loads.push_back(Load{std::chrono::system_clock::now(), ok, View().page()->url().path()});
        });
        WaitUntil([&] { return !View().IsBusy(); }, 10000);
        return true;
    }

    void Stop()
    {
        if (m_pApp && Hub().m_nMode == CServiceRelay::MODE_TUNNEL)
            HangUp();
        m_pApp.reset();
        m_sim.Signal(SIGTERM);
        m_sim.Wait(std::chrono::seconds(10));
    }

    // Dial to the device's first request bytes; false when a step failed.
    bool Dial(int runs)
    {
        std::printf("== Dial latency (setup delay %d ms subtracted; target < 300 ms)\n", m_nSetupDelayMs);
        std::printf("%-4s %8s %8s %8s %8s %8s %8s %9s\n", "run", "REQ", "B3_REQ", "B3_ACT", "open", "request", "total",
                    "latency");
        std::vector<long long> latencies;
        for (int run = 1; run <= runs; ++run) {
            size_t from = 0;
            ReadTrace(m_strTrace, 0, &from);
            const long long t0 = LocalMs(std::chrono::system_clock::now());
            if (!Hub().Dial("100", "4711") || !WaitUntil([&] { return Hub().m_nMode == CServiceRelay::MODE_TUNNEL; }, STEP_TIMEOUT_MS))
                return Fail("the call did not come up");
            const TraceLine* request = nullptr;
            std::vector<TraceLine> lines;
            WaitUntil([&] {
                lines = ReadTrace(m_strTrace, from);
                request = Find(lines, {"<- DATA_B3_REQ", "tag=0x00"});
                return request != nullptr;
            }, STEP_TIMEOUT_MS);
            const TraceLine* connect = Find(lines, {"<- CONNECT_REQ"});
            const TraceLine* b3req = Find(lines, {"<- CONNECT_B3_REQ"});
            const TraceLine* b3act = Find(lines, {"-> CONNECT_B3_ACTIVE_IND"});
            const TraceLine* open = Find(lines, {"<- DATA_B3_REQ", "tag=0x01"});
            if (!request || !connect || !b3req || !b3act || !open)
                return Fail("the trace lacks a step of the call");
            const long long total = request->ms - t0;
            latencies.push_back(total - m_nSetupDelayMs);
            std::printf("%-4d %8lld %8lld %8lld %8lld %8lld %8lld %9lld\n", run, connect->ms - t0, b3req->ms - t0,
                        b3act->ms - t0, open->ms - t0, request->ms - t0, total, total - m_nSetupDelayMs);
            WaitUntil([&] { return !View().IsBusy(); }, STEP_TIMEOUT_MS);
            HangUp();
        }
        std::sort(latencies.begin(), latencies.end());
        std::printf("latency median %lld ms, worst %lld ms\n", latencies[latencies.size() / 2], latencies.back());
        std::printf("(ms after Dial: CONNECT_REQ, CONNECT_B3_REQ, CONNECT_B3_ACTIVE_IND, the browser connection's\n"
                    " opening block, its first request bytes, each as the exchange sees it)\n");
        return true;
    }

    // Page load in the view at 64 kbit/s; false when a step failed.
    bool PageLoad(int runs)
    {
        std::printf("== Page load at 64 kbit/s: %zu bytes of HTML, CSS and two images (target <= 1.2 x minimum)\n",
                    m_server.ResourceBytes());
        std::printf("%-4s %10s %10s %10s %11s %7s\n", "run", "up bytes", "down bytes", "load ms", "minimum ms", "ratio");
        std::vector<double> ratios;
        for (int run = 1; run <= runs; ++run) {
            size_t from = 0;
            ReadTrace(m_strTrace, 0, &from);
            const size_t served = m_server.Log().size();
            m_loads.clear();
            if (!Hub().Dial("200", "4711"))
                return Fail("no dial");
            const TraceLine* b3act = nullptr;
            const Load* load = nullptr;
            std::vector<TraceLine> lines;
            WaitUntil([&] {
                lines = ReadTrace(m_strTrace, from);
                b3act = Find(lines, {"-> CONNECT_B3_ACTIVE_IND"});
                load = nullptr;
                if (b3act) {
                    for (const Load& l : m_loads)
                        if (l.ok && l.path != "/HttpStatus.html" && LocalMs(l.when) >= b3act->ms) {
                            load = &l;
                            break;
                        }
                }
                return load != nullptr && m_server.Log().size() >= served + 4;
            }, STEP_TIMEOUT_MS);
            if (!b3act || !load)
                return Fail("the device page did not load");
            const long long loaded = LocalMs(load->when);
            long up = 0, down = 0;
            for (const TraceLine& line : lines) {
                if (line.ms < b3act->ms || line.ms > loaded)
                    continue;
                if (line.text.find("<- DATA_B3_REQ") != std::string::npos)
                    up += Length(line.text);
                else if (line.text.find("-> DATA_B3_IND") != std::string::npos)
                    down += Length(line.text);
            }
            // The tunnel serves one connection at a time, so the line carries
            // the requests and the answers one after the other.
            const double minimum = 1000.0 * static_cast<double>(up + down) / LINE_RATE;
            const double took = static_cast<double>(loaded - b3act->ms);
            ratios.push_back(took / minimum);
            std::printf("%-4d %10ld %10ld %10.0f %11.0f %7.3f\n", run, up, down, took, minimum, took / minimum);
            if (run == runs) {
                std::printf("requests served (ms after CONNECT_B3_ACTIVE_IND, when the answer was written):\n");
                const auto log = m_server.Log();
                for (size_t i = served; i < log.size(); ++i)
                    std::printf("  %-12s %6zu bytes  %6lld ms\n", log[i].path.c_str(), log[i].responseBytes,
                                LocalMs(log[i].answered) - b3act->ms);
            }
            HangUp();
        }
        std::sort(ratios.begin(), ratios.end());
        std::printf("ratio median %.3f, worst %.3f\n", ratios[ratios.size() / 2], ratios.back());
        std::printf("(from CONNECT_B3_ACTIVE_IND to the view's loadFinished; minimum: every tunnel byte, both\n"
                    " ways, at %d bytes/s)\n", LINE_RATE);
        return true;
    }

private:
    CServiceRelay& Hub() { return *m_pApp->m_pServiceRelay; }
    CKestrinView& View() { return *m_pApp->GetMainWnd()->GetActiveView(); }
    bool Fail(const char* why)
    {
        std::fprintf(stderr, "failed: %s\n", why);
        return false;
    }
    void HangUp()
    {
        Hub().Disconnect();
        WaitUntil([&] { return Hub().m_nState == CServiceRelay::STATE_READY && Hub().m_nMode == CServiceRelay::MODE_OFFLINE; },
                  STEP_TIMEOUT_MS);
        WaitUntil([&] { return !View().IsBusy(); }, 10000);
    }

    int m_nSetupDelayMs;                    // the simulator's set-up delay
    QTemporaryDir m_home;                   // private HOME with .capi20rc and the trace
    std::string m_strTrace;                 // the trace file
    CPageServer m_server;                   // the device page's server
    CProcess m_sim;                         // the exchange
    std::unique_ptr<CCapiProvider> m_pCapi; // the real binding
    std::unique_ptr<CKestrinApp> m_pApp;    // the program's objects
    std::vector<Load> m_loads;              // the view's finished loads
};
}

int main(int argc, char** argv)
{
    std::string what = "all";
    int runs = 5;
    int setupDelay = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--setup-delay" && i + 1 < argc)
            setupDelay = std::max(0, std::atoi(argv[++i]));
        else if (arg == "dial" || arg == "pageload" || arg == "all")
            what = arg;
        else {
            std::fprintf(stderr, "usage: kestrin-bench-view [dial|pageload|all] [--runs N] [--setup-delay MS]\n");
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    CKestrinApp::PrepareProcess();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    bool ok;
    {
        CBench bench(setupDelay);
        ok = bench.Start();
        if (ok && (what == "dial" || what == "all"))
            ok = bench.Dial(runs);
        if (ok && (what == "pageload" || what == "all"))
            ok = bench.PageLoad(runs);
        std::fflush(stdout);
        bench.Stop();
    }
    return ok ? 0 : 1;
}
