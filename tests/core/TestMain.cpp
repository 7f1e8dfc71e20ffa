#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>

// The endpoint's events come from a Qt event loop, so every test runs with a
// QCoreApplication and no display.
int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
