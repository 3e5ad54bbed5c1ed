// SPDX-License-Identifier: MIT
#pragma once

#include "ui/UserListModel.h"
#include "ui/frmMain.h"

#include <QString>

class QAbstractButton;
class QWidget;

// What an operator does with the windows. Keys and clicks go through Qt's event delivery, and a
// click on the list lands where the row is drawn, so the list's own hit-testing decides which
// account opens.
namespace testing_support {

// Types `text` key by key at the cursor, any Unicode included (QTest::keyClicks takes Latin-1
// only); a line feed is the Return key.
void typeInto(QWidget* box, const QString& text);

// Gives the box the focus, selects everything in it, deletes it and types `text`.
void retype(QWidget* box, const QString& text);

// A left click in the middle of the button.
void click(QAbstractButton* button);

// Alt+`key` on the window, then the short wait in which a pressed button shows itself pressed.
void pressAlt(QWidget* window, Qt::Key key);

// The list entry of the first account named `user`, or -1.
int entryOf(const frmMain& list, const QString& user);

// Shows the list if it is hidden, scrolls entry `row` into view and double-clicks it where it is
// drawn. The editor that is then open, or null.
frmEdit* openEntry(frmMain& list, int row);
// The same for the first entry of `user`; null when the list has none.
frmEdit* openEntry(frmMain& list, const QString& user);

// Lets windows that were closed be destroyed.
void settle();

} // namespace testing_support
