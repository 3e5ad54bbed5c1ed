// SPDX-License-Identifier: MIT
#pragma once

#include <QPlainTextEdit>

// A multi-line text box with the same limit rules as LimitedLineEdit. Tab moves the focus on.
class LimitedTextEdit : public QPlainTextEdit {
    Q_OBJECT

public:
    LimitedTextEdit(int limit, QWidget* parent = nullptr);

    void loadText(const QString& text);
    bool isUnchanged() const { return rawText() == m_loaded; }
    // The text with each line break as carriage return and line feed.
    QString textWithCrLf() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString rawText() const;
    void limitEdit();

    int m_limit;
    int m_allowed; // the limit, or the loaded text's length when that is longer
    bool m_loading = false;
    QString m_accepted;
    QString m_loaded;
};
