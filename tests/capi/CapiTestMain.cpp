#include <QCoreApplication>

#include <gtest/gtest.h>

// The hub needs a Qt event loop for its listener. SIGPIPE is deliberately not
// ignored here: the binding has to do that itself.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
