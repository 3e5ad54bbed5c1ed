// SPDX-License-Identifier: MIT
#include "ui/MessageBox.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

// The windows need one QApplication for the whole run; message boxes are answered in advance.
//
// With VANTREL_RUN_AS_NOBODY set, the process first gives up root for the user and group
// 65534, before Qt starts: the read-only file check runs itself that way, since root may write
// to any file whatever its mode.
int main(int argc, char* argv[]) {
    if (std::getenv("VANTREL_RUN_AS_NOBODY")) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            return 3;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MessageBox::answerForTesting(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
