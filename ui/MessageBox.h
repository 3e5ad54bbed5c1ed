// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Every message Vantrel shows goes through here: a modal box titled "Vantrel" with one OK
// button. Tests switch to answering in advance, so that no box ever waits for a person.
class MessageBox {
public:
    enum class Icon { None, Warning, Critical };

    static void show(QWidget* parent, const QString& text, Icon icon = Icon::None);

    // From now on boxes are not shown: their texts are recorded and answered with OK at once.
    static void answerForTesting(bool enabled);
    static QStringList shownForTesting();
    static void clearShownForTesting();
};
