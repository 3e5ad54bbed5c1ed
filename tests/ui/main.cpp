// SPDX-License-Identifier: MIT
#include "ui/MessageBox.h"

#include <QApplication>
#include <gtest/gtest.h>

// The windows need one QApplication for the whole run; message boxes are answered in advance.
int main(int argc, char* argv[]) {
    // Headless, also when the build lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MessageBox::answerForTesting(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
