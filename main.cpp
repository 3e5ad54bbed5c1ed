// SPDX-License-Identifier: MIT
#include "QtPluginFolder.h"
#include "ui/Startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    loadQtPluginsFromQtAlone();
    QApplication application(argc, argv);
    // Both windows take the application's icon. Drawn from SVG, it needs Qt's SVG plugins at run time.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/org.vantrel.Vantrel.svg")));
    return startVantrel();
}
