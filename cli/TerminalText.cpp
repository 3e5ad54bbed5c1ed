// SPDX-License-Identifier: MIT
#include "cli/TerminalText.h"

#include <QString>

#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// The file descriptor of a standard stream; -1 for any other stream.
int descriptorOf(const std::ios& stream) {
    if (&stream == &std::cin)
        return STDIN_FILENO;
    if (&stream == &std::cout)
        return STDOUT_FILENO;
    if (&stream == &std::cerr || &stream == &std::clog)
        return STDERR_FILENO;
    return -1;
}

} // namespace

std::string visibleControls(std::string_view text, bool escapeBackslash) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\' && escapeBackslash)
            shown += "\\\\";
        else if (byte == '\n')
            shown += "\\n";
        else if (byte == '\r')
            shown += "\\r";
        else if (byte == '\t')
            shown += "\\t";
        else if (byte < 0x20 || byte == 0x7F)
            shown += {'\\', 'x', hexDigits[byte >> 4], hexDigits[byte & 0xF]};
        else
            shown += c;
    }
    return shown;
}

std::string messageLine(const std::string& text) {
    // Through UTF-16 and back: bytes that are not UTF-8 come out as U+FFFD; NUL bytes are kept,
    // to be made visible. The C1 controls (U+0080 to U+009F) steer some terminals as ESC does and
    // are written as \uHHHH.
    QString checked = QString::fromStdString(text);
    for (qsizetype at = checked.size() - 1; at >= 0; --at) {
        const char16_t unit = checked.at(at).unicode();
        if (unit >= 0x80 && unit <= 0x9F)
            checked.replace(at, 1,
                            QStringLiteral("\\u%1").arg(QString::number(unit, 16).toUpper(), 4, QLatin1Char('0')));
    }
    return visibleControls(checked.toStdString(), false);
}

bool isTerminal(const std::ios& stream) {
    const int descriptor = descriptorOf(stream);
    return descriptor >= 0 && ::isatty(descriptor) != 0;
}

bool sameTerminal(const std::ios& output, const std::ios& error) {
    if (!isTerminal(output) || !isTerminal(error))
        return false;
    struct stat outputStatus {};
    struct stat errorStatus {};
    return ::fstat(descriptorOf(output), &outputStatus) == 0 && ::fstat(descriptorOf(error), &errorStatus) == 0 &&
           outputStatus.st_rdev == errorStatus.st_rdev;
}

} // namespace cli
