// SPDX-License-Identifier: MIT
#include "ui/HandlerBoundary.h"

#include "store/Error.h"
#include "store/mdlDatabase.h"
#include "ui/MessageBox.h"

#include <new>

bool runHandler(QWidget* window, const std::function<void()>& handler) {
    QString message;
    try {
        handler();
        return true;
    } catch (const dao::Error& error) {
        message = QStringLiteral("Error %1: %2").arg(error.number()).arg(QString::fromStdString(error.description()));
    } catch (const std::bad_alloc&) {
        message = QStringLiteral("Vantrel ran out of memory. Nothing was saved.");
    } catch (const std::exception& error) {
        message = QStringLiteral("Unexpected failure: %1").arg(QString::fromStdString(error.what()));
    }
    mdlDatabase::ReleaseDB();
    MessageBox::show(window, message, MessageBox::Icon::Critical);
    return false;
}
