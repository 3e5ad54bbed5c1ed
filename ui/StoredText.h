// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringDecoder>

#include <string_view>

// Text read from the registry, as the QString that holds exactly its characters. QString::fromUtf8
// would drop a byte-order mark at the start: "\uFEFFbob" would open "bob", and a box showing a
// name that starts with one would save it without.
inline QString storedText(std::string_view utf8) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size())));
}
