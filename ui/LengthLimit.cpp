// SPDX-License-Identifier: MIT
#include "ui/LengthLimit.h"

#include <QList>

#include <algorithm>

namespace LengthLimit {

Result apply(const QString& before, const QString& after, int limit) {
    const QList<uint> old = before.toUcs4();
    const QList<uint> now = after.toUcs4();
    const qsizetype allowed = std::max<qsizetype>(limit, old.size());
    if (now.size() <= allowed)
        return {after, -1};

    // An edit replaces one stretch of text: the same before it, the same after it.
    qsizetype prefix = 0;
    while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const qsizetype kept = prefix + suffix; // the text the edit left alone
    const qsizetype room = std::max<qsizetype>(0, allowed - kept);
    const qsizetype inserted = std::min(room, now.size() - prefix - suffix);

    QList<uint> result = now.mid(0, prefix + inserted);
    result += now.mid(now.size() - suffix);
    const QString text = QString::fromUcs4(reinterpret_cast<const char32_t*>(result.constData()), result.size());
    const QList<uint> head = now.mid(0, prefix + inserted);
    const int cursor =
        static_cast<int>(QString::fromUcs4(reinterpret_cast<const char32_t*>(head.constData()), head.size()).size());
    return {text, cursor};
}

} // namespace LengthLimit
