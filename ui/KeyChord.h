// SPDX-License-Identifier: MIT
#pragma once

#include <QKeyEvent>

// Alt with a letter is an access key. When it names no control of the window, it must not fall
// through to a text box as the letter itself, where it would wait, unseen, to be saved.
// Ctrl+Alt is left alone: some keyboards type characters with it (AltGr).
inline bool isUnusedAltChord(const QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    return (modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier) && !event->text().isEmpty() &&
           event->text().front().isPrint();
}
