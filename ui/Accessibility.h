// SPDX-License-Identifier: MIT
#pragma once

// What assistive technology is told about Vantrel's windows, beyond what Qt says of a widget:
// the list window is a frame and the editor a dialog (a plain top-level QWidget would be
// announced as "filler"), and the list of user names is a list with one item per name, each made
// only when a screen reader asks for it, however many names there are. Installed once; every
// window calls it before it is shown.
namespace Accessibility {

void install();

} // namespace Accessibility
