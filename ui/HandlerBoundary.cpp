// SPDX-License-Identifier: MIT
#include "ui/HandlerBoundary.h"

#include "store/Error.h"
#include "store/mdlDatabase.h"
#include "ui/MessageBox.h"

#include <QGuiApplication>
#include <QWidget>

#include <new>

namespace {

// The wait cursor while a handler works: it may wait up to the busy timeout for another
// program's lock. Restored on every way out.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

bool runHandler(QWidget* window, const std::function<void()>& handler) {
    QString message;
    {
        const BusyCursor busy;
        try {
            handler();
            return true;
        } catch (const dao::Error& error) {
            message =
                QStringLiteral("Error %1: %2").arg(error.number()).arg(QString::fromStdString(error.description()));
        } catch (const std::bad_alloc&) {
            message = QStringLiteral("Vantrel ran out of memory. Nothing was saved.");
        } catch (const std::exception& error) {
            message = QStringLiteral("Unexpected failure: %1").arg(QString::fromStdString(error.what()));
        }
        mdlDatabase::ReleaseDB();
    } // the box is answered with the ordinary cursor
    MessageBox::show(window, message, MessageBox::Icon::Critical);
    // When the box closes, the window manager may hand the focus to another of the program's
    // windows; the operator's next keys belong to the window the error came from.
    if (window && window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
    return false;
}
