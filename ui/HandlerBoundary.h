// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

class QWidget;

// Every window handler that touches the registry runs inside this boundary. An error that
// leaves the handler releases whatever of the registry is still open (cursor, database,
// workspace, in that order) and is shown to the operator as "Error N: description." in a box
// titled "Vantrel". Nothing is thrown on: Qt's event loop never sees an exception. While the
// handler runs, the cursor is the wait cursor; after an error box, `window` (when given and
// shown) gets the focus back.
//
// Returns true when the handler finished, false when it failed and the error was shown.
bool runHandler(QWidget* window, const std::function<void()>& handler);
