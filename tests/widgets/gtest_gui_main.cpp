#include <gtest/gtest.h>

#include <QApplication>

// Colours resolve against the application palette and captions are measured with its fonts, so
// the tests run inside an application object (offscreen platform).
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
