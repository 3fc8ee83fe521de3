#include "security/OpenSslProcess.hpp"

#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests run inside a QCoreApplication so that event loops, timers and coroutines work.
int main(int argc, char** argv)
{
    lumora::OpenSslProcess::keepStateUntilExit();
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
