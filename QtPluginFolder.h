// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>

// Call before the application object exists. Qt then loads plugins from its installed plugin
// folder alone, never from the folder that holds the executable: that folder may be writable by
// other operators, and a plugin Qt finds there would run as whoever starts the program.
//
// setLibraryPaths alone does not keep the program's folder out: the application object adds it
// back when it is made, except where it was among the paths Qt had found for itself before. So
// the folder is put there first, through the variable Qt reads them from, which is then set back.
// The embedded qt.conf (":/qt/etc/qt.conf", read in preference to one beside the executable)
// states Qt's own installed paths, so that a qt.conf in the program's folder changes nothing.
inline void loadQtPluginsFromQtAlone() {
    const QString installedPlugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    const QString programFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    const bool hadPluginPath = qEnvironmentVariableIsSet("QT_PLUGIN_PATH");
    const QByteArray pluginPath = qgetenv("QT_PLUGIN_PATH");
    qputenv("QT_PLUGIN_PATH", QFile::encodeName(programFolder) + QDir::listSeparator().toLatin1() + pluginPath);
    QCoreApplication::setLibraryPaths({installedPlugins});
    if (hadPluginPath)
        qputenv("QT_PLUGIN_PATH", pluginPath);
    else
        qunsetenv("QT_PLUGIN_PATH");
}
