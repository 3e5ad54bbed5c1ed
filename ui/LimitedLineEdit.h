// SPDX-License-Identifier: MIT
#pragma once

#include <QLineEdit>

// A one-line text box that holds what the operator types or pastes to a limit, yet shows text
// that the program loads into it whole (QLineEdit's maxLength would cut it); loaded text longer
// than the limit may be edited up to its own length.
class LimitedLineEdit : public QLineEdit {
    Q_OBJECT

public:
    LimitedLineEdit(int limit, QWidget* parent = nullptr);

    // Shows `text` whole and remembers it as the loaded text.
    void loadText(const QString& text);
    // Whether the text is still exactly what loadText() put there.
    bool isUnchanged() const { return text() == m_loaded; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void limitEdit(const QString& text);

    int m_limit;
    int m_allowed; // the limit, or the loaded text's length when that is longer
    QString m_accepted;
    QString m_loaded;
};
