// SPDX-License-Identifier: MIT
#include "ui/MessageBox.h"

#include <QApplication>
#include <gtest/gtest.h>

// The main of every test of the windows: one QApplication for the whole run, headless also when
// the build lists the tests, and message boxes answered in advance so that none waits for a click.
int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MessageBox::answerForTesting(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
