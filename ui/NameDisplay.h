// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringView>

// How a user name is shown, in the list, in the editor's heading and to a screen reader. A name
// comes from the registry, which anyone with the file may have written, so no character of it
// may act on its neighbours or hide itself. Each such character is shown as its code point in
// angle brackets, "⟨U+202E⟩":
//   - control characters (tab "⟨U+0009⟩", line feed "⟨U+000A⟩", DEL, the C1 controls);
//   - format characters: bidi embeddings, overrides and isolates, zero-width characters, the
//     byte-order mark, the soft hyphen, tag characters;
//   - line and paragraph separators, and every space but U+0020;
//   - private-use, unassigned and lone surrogate code points, and fillers that draw nothing;
//   - a space at the start or the end ("⟨U+0020⟩admin"); spaces between words stay spaces;
//   - "⟨", "⟩" and "⚠" themselves, so that a name which spells a mark is never taken for one.
// Everything else, right-to-left letters included, is shown as it is. The brackets are in the
// fonts every desktop has (the control pictures "␉", "␠" are not: they would show as empty boxes).
// The stored name, and every lookup by it, stay exact: this is for the eye only.
//
// Of a longer name, the first shownCharacters characters are shown, followed by the count of the
// rest: "… (and 499,744 more characters)". Another program may write a name of half a million
// characters, which would take seconds to lay out at each repaint and gigabytes as a tooltip.
namespace NameDisplay {

constexpr qsizetype shownCharacters = 256;

// `name` is the whole name or, when `moreCharacters` is above 0, its start, which that many
// characters follow; the start needs to hold no more than shownCharacters characters.
QString visible(QStringView name, qsizetype moreCharacters = 0);

// The tooltip of a list entry: the name as visible() shows it and, when its characters shown hold
// any but printable ASCII, the code point of each of them ("U+0430 U+0064 ..."), so that
// look-alikes from other scripts can be told apart. Rich text, with the name escaped.
// Adds, when the name may pass for another (see lookReason), why.
QString toolTip(QStringView name, qsizetype moreCharacters = 0);

// Why the name may pass for another on screen, as a sentence ("This name mixes Latin and Cyrillic
// letters: а is U+0430 CYRILLIC SMALL LETTER A."), or empty: it mixes scripts, or is not in
// Unicode normalization form C (dao::NameLook::misleading). For a screen reader's description.
QString lookReason(QStringView name);

// visible(), followed by " ⚠" when the name may pass for another: what the list and the editor's
// heading show. Judged on the characters shown alone, so a name of any length costs no more.
QString shown(QStringView name, qsizetype moreCharacters = 0);

} // namespace NameDisplay
