// SPDX-License-Identifier: MIT
#include "QtPluginFolder.h"
#include "store/Error.h"
#include "store/FileSystem.h"
#include "store/mdlDatabase.h"
#include "ui/Startup.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Answers --help and --version, the first of them given, on standard output; returns whether it
// did. Checked before the application object exists, so that no window, display or registry is
// touched. Every other argument is left for Qt, which ignores what it does not know.
bool answeredAsked(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("vantrel " VANTREL_VERSION "\n", stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs("Usage: vantrel [--help | --version]\n"
                       "Opens the registry zarn.dat in the folder that holds the program, lists its accounts\n"
                       "and lets the operator change them. Other arguments are ignored.\n"
                       "\n"
                       "  --help     Shows this help and exits.\n"
                       "  --version  Shows the version and exits.\n"
                       "\n"
                       "Exit status:\n"
                       "  0  the last window was closed\n"
                       "  1  there is no registry file\n"
                       "  2  the account list could not be loaded\n"
                       "The command-line tool vantrel-registry makes, checks, imports and exports registries.\n",
                       stdout);
            return true;
        }
    }
    return false;
}

// SQLite's locking cannot be trusted on a network file system: two operators saving at once may
// damage the registry. Nothing is refused; whoever started the program from a terminal is told.
void warnOfNetworkFileSystem() {
    try {
        const std::string path = mdlDatabase::RegistryPath();
        const std::string system = dao::networkFileSystem(path);
        if (!system.empty())
            std::fprintf(stderr,
                         "vantrel: the registry %s is on a network file system (%s), whose locking SQLite cannot "
                         "trust: two operators saving at once may damage it. Keep it on a local disk.\n",
                         dao::inQuotes(path).c_str(), system.c_str());
    } catch (const dao::Error&) {
        // The program's folder cannot be found: the window says so as it opens the registry.
    }
}

} // namespace

int main(int argc, char* argv[]) {
    loadQtPluginsFromQtAlone();
    if (answeredAsked(argc, argv))
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    warnOfNetworkFileSystem();
    QApplication application(argc, argv);
    // Both windows take the application's icon. Drawn from SVG, it needs Qt's SVG plugins at run time.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/org.vantrel.Vantrel.svg")));
    return startVantrel();
}
