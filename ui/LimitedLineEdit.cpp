// SPDX-License-Identifier: MIT
#include "ui/LimitedLineEdit.h"

#include "ui/KeyChord.h"
#include "ui/LengthLimit.h"

#include <algorithm>

LimitedLineEdit::LimitedLineEdit(int limit, QWidget* parent) : QLineEdit(parent), m_limit(limit), m_allowed(limit) {
    // textEdited comes only from the operator, never from setText().
    connect(this, &QLineEdit::textEdited, this, &LimitedLineEdit::limitEdit);
}

void LimitedLineEdit::loadText(const QString& text) {
    m_accepted = m_loaded = text;
    m_allowed = std::max(m_limit, static_cast<int>(text.toUcs4().size()));
    setText(text);
    setCursorPosition(0);
}

void LimitedLineEdit::limitEdit(const QString& text) {
    const LengthLimit::Result limited = LengthLimit::apply(m_accepted, text, m_allowed);
    if (limited.cursor >= 0) {
        setText(limited.text);
        setCursorPosition(limited.cursor);
    }
    m_accepted = limited.text;
}

void LimitedLineEdit::keyPressEvent(QKeyEvent* event) {
    if (isUnusedAltChord(event)) {
        event->ignore();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
