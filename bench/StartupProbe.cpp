// SPDX-License-Identifier: MIT
// Starts Vantrel's list window on the registry in FOLDER exactly as the program does, and ends
// as soon as the list has been painted. Whole runs of it time the way to a usable window.
//
//   vantrel-startup-probe FOLDER
#include "store/mdlDatabase.h"
#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmMain.h"

#include <QApplication>

#include <QElapsedTimer>

#include <cstdio>

namespace {

class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            object->removeEventFilter(this);
            QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantrel-startup-probe FOLDER\n");
        return 64;
    }
    mdlDatabase::SetRegistryFolderForTesting(argv[1]);
    QElapsedTimer clock;
    clock.start();
    frmMain window;
    const qint64 made = clock.elapsed();
    if (window.Form_Load() != frmMain::LoadResult::Loaded)
        return 2;
    const qint64 loaded = clock.elapsed();
    FirstPaint firstPaint;
    window.lstUser()->viewport()->installEventFilter(&firstPaint);
    window.show();
    const int status = QApplication::exec();
    std::printf("%d names: window made in %lld ms, list loaded in %lld ms, painted after %lld ms\n",
                window.users()->rowCount(), made, loaded - made, clock.elapsed() - loaded);
    return status;
}
