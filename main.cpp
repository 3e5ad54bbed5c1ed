// SPDX-License-Identifier: MIT
#include "ui/Startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    return startVantrel();
}
