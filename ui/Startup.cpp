// SPDX-License-Identifier: MIT
#include "ui/Startup.h"

#include "ui/frmMain.h"

#include <QApplication>

int startVantrel() {
    frmMain window;
    switch (window.Form_Load()) {
    case frmMain::LoadResult::RegistryMissing:
        return 1;
    case frmMain::LoadResult::Failed:
        return 2; // a half-filled list must never pass for the registry
    case frmMain::LoadResult::Loaded:
        break;
    }
    window.show();
    return QApplication::exec();
}
