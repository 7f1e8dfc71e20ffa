#include "RcapiPeer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
RcapiPeer* g_peer = nullptr;
}

RcapiPeer& Peer()
{
    return *g_peer;
}

// The library reads its configuration from $HOME once, when it is first used:
// a private HOME pointing it at the peer is set up before any test runs.
// SIGPIPE is not ignored here; the binding has to do that itself.
int main(int argc, char** argv)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrin-rcapi-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return 2;
    const std::filesystem::path home = pattern;
    g_peer = new RcapiPeer();
    {
        // Every line must end with a newline: the library drops a line's last byte.
        std::ofstream config(home / ".capi20rc");
        config << "REMOTE rcapi 127.0.0.1 " << g_peer->Port() << "\n";
    }
    setenv("HOME", home.c_str(), 1);
    int result;
    {
        QCoreApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    delete g_peer;
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
