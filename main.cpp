// SPDX-License-Identifier: MIT
#include "ui/Startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Both windows take the application's icon. Drawn from SVG, it needs Qt's SVG plugins at run time.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/org.vantrel.Vantrel.svg")));
    return startVantrel();
}
