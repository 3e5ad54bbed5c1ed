// SPDX-License-Identifier: MIT
#include "ui/MessageBox.h"

#include <QMessageBox>

namespace {

bool answering = false;
QStringList shown;

} // namespace

void MessageBox::show(QWidget* parent, const QString& text, Icon icon) {
    if (answering) {
        shown.append(text);
        return;
    }
    QMessageBox box(icon == Icon::Critical  ? QMessageBox::Critical
                    : icon == Icon::Warning ? QMessageBox::Warning
                                            : QMessageBox::NoIcon, QStringLiteral("Vantrel"),
                    text, QMessageBox::Ok, parent);
    box.exec();
}

void MessageBox::answerForTesting(bool enabled) {
    answering = enabled;
}

QStringList MessageBox::shownForTesting() {
    return shown;
}

void MessageBox::clearShownForTesting() {
    shown.clear();
}
