#include <gtest/gtest.h>

#include <QCoreApplication>

// Qt's serial port and timers need an application object and an event dispatcher.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
