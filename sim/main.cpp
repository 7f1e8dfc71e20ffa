#include "sim/CEventLoop.h"
#include "sim/CExchange.h"
#include "sim/CSimConfig.h"
#include "sim/CSysApi.h"
#include "sim/CTraceLog.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Write end of the pipe that turns SIGTERM and SIGINT into a loop event.
int g_signalPipe = -1;

void OnSignal(int)
{
    int saved = errno;
    char byte = 1;
    if (g_signalPipe >= 0)
        (void)!::write(g_signalPipe, &byte, 1);
    errno = saved;
}

const char* AnswerName(CSimConfig::EAnswer answer)
{
    switch (answer) {
    case CSimConfig::EAnswer::Demo: return "demo device";
    case CSimConfig::EAnswer::Forward: return "forward";
    case CSimConfig::EAnswer::Busy: return "busy";
    case CSimConfig::EAnswer::NoAnswer: return "no answer";
    case CSimConfig::EAnswer::RefuseB3: return "refuses B3";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    CSimConfig config;
    bool help = false;
    std::string error;
    if (!config.ParseArgs(args, help, error)) {
        std::fprintf(stderr, "kestrin-sim: %s\n%s", error.c_str(), CSimConfig::Usage().c_str());
        return 2;
    }
    if (help) {
        std::fputs(CSimConfig::Usage().c_str(), stdout);
        return 0;
    }
    config.AddDefaultDevices();

    CTraceLog trace;
    if (!config.TracePath.empty() && !trace.Open(config.TracePath)) {
        std::fprintf(stderr, "kestrin-sim: cannot open trace file \"%s\"\n", config.TracePath.c_str());
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    int pipeFds[2];
    if (CSysApi::Get().Pipe(pipeFds) < 0) {
        std::perror("kestrin-sim: pipe");
        return 1;
    }
    g_signalPipe = pipeFds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    CEventLoop loop;
    int stopSignal = 0;
    loop.Watch(pipeFds[0], POLLIN, [&](short) {
        char byte;
        while (::read(pipeFds[0], &byte, 1) > 0)
            stopSignal = 1;
        loop.Stop();
    });

    CExchange exchange(&loop, &config, &trace);
    if (!exchange.Listen(error)) {
        std::fprintf(stderr, "kestrin-sim: %s\n", error.c_str());
        return 1;
    }
    for (auto& device : config.Devices) {
        std::string line = "number " + device.Number + ": " + AnswerName(device.Answer);
        if (device.Answer == CSimConfig::EAnswer::Forward)
            line += " to 127.0.0.1:" + std::to_string(device.ForwardPort);
        if (device.ClearAfterBytes)
            line += ", cleared after " + std::to_string(device.ClearAfterBytes) + " bytes";
        trace.Note(line);
    }
    trace.Note("B channel " + (config.RateBytesPerSecond ? std::to_string(config.RateBytesPerSecond) + " bytes/s each way" : std::string("unlimited")));
    std::printf("kestrin-sim listening on 127.0.0.1:%u\n", exchange.Port());
    std::fflush(stdout);

    bool ok = loop.Run();
    exchange.Shutdown();
    trace.Note(stopSignal ? "stopped by signal" : "stopped");
    trace.Close();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    if (!ok) {
        std::perror("kestrin-sim: poll");
        return 1;
    }
    std::printf("kestrin-sim stopped\n");
    return 0;
}
