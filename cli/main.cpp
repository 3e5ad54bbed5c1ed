// SPDX-License-Identifier: MIT
#include "QtPluginFolder.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>

#include <iostream>
#include <unistd.h>

int main(int argc, char* argv[]) {
    loadQtPluginsFromQtAlone();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-registry"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    // The standard streams are used from C++ only: unsynchronised, they are buffered properly.
    std::ios::sync_with_stdio(false);
    cli::CommandLine commandLine(std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    return commandLine.run(QCoreApplication::arguments());
}
