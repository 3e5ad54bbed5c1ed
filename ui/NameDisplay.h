// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringView>

// How a user name is shown, in the list, in the editor's heading and to a screen reader. A name
// comes from the registry, which anyone with the file may have written, so no character of it
// may act on its neighbours or hide itself:
//   - C0 controls and DEL become their control pictures: tab "␉", line feed "␊", NUL "␀", DEL "␡";
//   - a space at the start or the end becomes "␠" (spaces between words stay spaces);
//   - every other character that shows nothing or acts on the text around it (format characters
//     such as bidi overrides, isolates, zero-width characters, the byte-order mark and the soft
//     hyphen; line and paragraph separators; C1 controls; spaces other than U+0020; private-use,
//     unassigned and lone surrogate code points; fillers that draw nothing) becomes its code
//     point in angle brackets: "⟨U+202E⟩";
//   - the marks themselves ("⟨", "⟩" and the control pictures) are shown the same way when a name
//     holds them, so two different names never look alike through their marks.
// Everything else, right-to-left letters included, is shown as it is. The stored name, and every
// lookup by it, stay exact: this is for the eye only.
namespace NameDisplay {

QString visible(QStringView name);

// The tooltip of a list entry: the whole name as visible() shows it and, when the name holds any
// character but printable ASCII, the code point of every character ("U+0430 U+0064 ..."), so
// that look-alikes from other scripts can be told apart. Rich text, with the name escaped.
QString toolTip(QStringView name);

} // namespace NameDisplay
