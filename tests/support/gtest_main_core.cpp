// Test entry for non-widget tests: a QCoreApplication so that timers,
// serial ports and socket notifiers work inside the tests.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
