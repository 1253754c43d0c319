// GoogleTest entry with the application object the widgets and the
// Synchronize queue need. Without a platform chosen by the test run (test
// discovery runs the binary bare) the offscreen one is used: these tests
// never need a display.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
