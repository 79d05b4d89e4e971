// The main of the Qt platform tests: Qt's offscreen platform unless the
// environment chose another, the program's own TApplication (so that its
// last-resort error box is under test too), then the tests.
#include <gtest/gtest.h>

#include "platform/qt/app/application.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    veltra::TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
