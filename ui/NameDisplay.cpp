// SPDX-License-Identifier: MIT
#include "ui/NameDisplay.h"

#include "store/NameLook.h"

#include <QChar>
#include <QLocale>
#include <QStringList>

namespace NameDisplay {

namespace {

constexpr char32_t openMark = 0x27E8;
constexpr char32_t closeMark = 0x27E9;
constexpr char32_t lookMark = 0x26A0;

// Calls `visit(codePoint)` for each code point; a surrogate without its partner is passed alone.
template <class Visit> void forEachCodePoint(QStringView text, Visit visit) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text[i];
        if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            visit(QChar::surrogateToUcs4(unit, text[i + 1]));
            ++i;
        } else {
            visit(char32_t(unit.unicode()));
        }
    }
}

QString codePoint(char32_t c) {
    return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
}

// Characters that draw nothing although Unicode does not class them as format characters.
bool isBlankFiller(char32_t c) {
    return c == 0x034F || c == 0x115F || c == 0x1160 || c == 0x17B4 || c == 0x17B5 || c == 0x3164 || c == 0xFFA0;
}

bool needsCodePoint(char32_t c) {
    if (c == openMark || c == closeMark || c == lookMark || isBlankFiller(c))
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    case QChar::Separator_Space:
        return c != U' ';
    default:
        return false;
    }
}

bool pairAt(QStringView text, qsizetype i) {
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
}

// The length, in UTF-16 units, of the first `characters` characters of `text`.
qsizetype unitsOf(QStringView text, qsizetype characters) {
    qsizetype units = 0;
    for (; units < text.size() && characters > 0; --characters)
        units += pairAt(text, units) ? 2 : 1;
    return units;
}

qsizetype characterCount(QStringView text) {
    qsizetype characters = 0;
    for (qsizetype i = 0; i < text.size(); i += pairAt(text, i) ? 2 : 1)
        ++characters;
    return characters;
}

void append(QString& text, char32_t c) {
    if (QChar::requiresSurrogates(c)) {
        text += QChar(QChar::highSurrogate(c));
        text += QChar(QChar::lowSurrogate(c));
    } else {
        text += QChar(char16_t(c));
    }
}

} // namespace

QString visible(QStringView name, qsizetype moreCharacters) {
    const QStringView whole = name;
    name = whole.first(unitsOf(whole, shownCharacters));
    moreCharacters += characterCount(whole.sliced(name.size()));

    qsizetype leading = 0;
    while (leading < name.size() && name[leading] == u' ')
        ++leading;
    qsizetype trailing = name.size();
    // A space before the characters left out is not at the name's end.
    while (moreCharacters == 0 && trailing > leading && name[trailing - 1] == u' ')
        --trailing;

    QString shown;
    shown.reserve(name.size() + 8);
    qsizetype position = 0; // in UTF-16 units, to tell the edge spaces
    forEachCodePoint(name, [&](char32_t c) {
        const bool edge = position < leading || position >= trailing;
        position += QChar::requiresSurrogates(c) ? 2 : 1;
        if (c == U' ' ? edge : needsCodePoint(c)) {
            append(shown, openMark);
            shown += codePoint(c);
            append(shown, closeMark);
        } else {
            append(shown, c);
        }
    });
    if (moreCharacters > 0)
        shown += QStringLiteral("\u2026 (and %1 more %2)")
                     .arg(QLocale().toString(moreCharacters),
                          moreCharacters == 1 ? QStringLiteral("character") : QStringLiteral("characters"));
    return shown;
}

QString toolTip(QStringView name, qsizetype moreCharacters) {
    QString tip = QStringLiteral("<p style=\"white-space:pre\">") + visible(name, moreCharacters).toHtmlEscaped();
    name = name.first(unitsOf(name, shownCharacters));
    bool printableAscii = true;
    for (const QChar c : name)
        printableAscii = printableAscii && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    if (!printableAscii) {
        QStringList points;
        forEachCodePoint(name, [&](char32_t c) { points << codePoint(c); });
        tip += QStringLiteral("<br>") + points.join(QLatin1Char(' '));
    }
    if (const QString reason = lookReason(name); !reason.isEmpty())
        tip += QStringLiteral("<br>\u26A0 ") + reason.toHtmlEscaped();
    return tip + QStringLiteral("</p>");
}

QString lookReason(QStringView name) {
    name = name.first(unitsOf(name, shownCharacters));
    const std::string reason = dao::NameLook::misleading(name.toUtf8().toStdString());
    return reason.empty() ? QString() : QStringLiteral("This name ") + QString::fromStdString(reason) + u'.';
}

QString shown(QStringView name, qsizetype moreCharacters) {
    QString text = visible(name, moreCharacters);
    if (!lookReason(name).isEmpty())
        text += QStringLiteral(" \u26A0");
    return text;
}

} // namespace NameDisplay
