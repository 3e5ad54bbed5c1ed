// SPDX-License-Identifier: MIT
#include "ui/LimitedTextEdit.h"

#include "ui/KeyChord.h"
#include "ui/LengthLimit.h"

#include <QScopedValueRollback>
#include <QTextBlock>

#include <algorithm>

LimitedTextEdit::LimitedTextEdit(int limit, QWidget* parent)
    : QPlainTextEdit(parent), m_limit(limit), m_allowed(limit) {
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &LimitedTextEdit::limitEdit);
}

// toPlainText() would also turn non-breaking spaces into plain ones; the raw text keeps every
// character and marks line breaks with U+2029.
QString LimitedTextEdit::rawText() const {
    return document()->toRawText();
}

void LimitedTextEdit::loadText(const QString& text) {
    const QScopedValueRollback loading(m_loading, true);
    setPlainText(text);
    m_accepted = m_loaded = rawText();
    m_allowed = std::max(m_limit, static_cast<int>(m_loaded.toUcs4().size()));
}

QString LimitedTextEdit::textWithCrLf() const {
    QString text = rawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return text;
}

void LimitedTextEdit::limitEdit() {
    if (m_loading)
        return;
    const QString now = rawText();
    const LengthLimit::Result limited = LengthLimit::apply(m_accepted, now, m_allowed);
    if (limited.cursor >= 0) {
        const QScopedValueRollback loading(m_loading, true);
        QString text = limited.text;
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        setPlainText(text);
        QTextCursor cursor = textCursor();
        cursor.setPosition(limited.cursor);
        setTextCursor(cursor);
    }
    m_accepted = rawText();
}

void LimitedTextEdit::keyPressEvent(QKeyEvent* event) {
    if (isUnusedAltChord(event)) {
        event->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
