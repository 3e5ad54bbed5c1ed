// SPDX-License-Identifier: MIT
#include "store/NameLook.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/uspoof.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace dao::NameLook {

namespace {

struct SpoofCheckerClose {
    void operator()(USpoofChecker* checker) const { uspoof_close(checker); }
};

// One checker for the process, configured once: ICU's checking functions do not change it, so
// it may be used from any thread. Null when ICU cannot make one (its data missing).
using SpoofChecker = std::unique_ptr<USpoofChecker, SpoofCheckerClose>;

const USpoofChecker* checker() {
    static const SpoofChecker configured = [] {
        UErrorCode status = U_ZERO_ERROR;
        SpoofChecker made(uspoof_open(&status));
        if (U_FAILURE(status))
            return SpoofChecker();
        uspoof_setRestrictionLevel(made.get(), USPOOF_HIGHLY_RESTRICTIVE);
        uspoof_setChecks(made.get(), USPOOF_RESTRICTION_LEVEL, &status);
        return U_SUCCESS(status) ? std::move(made) : SpoofChecker();
    }();
    return configured.get();
}

bool printableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Calls `visit(codePoint)` for each code point; false, visiting nothing more, at invalid UTF-8.
template <class Visit> bool forEachCodePoint(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            return false;
        visit(static_cast<char32_t>(c));
    }
    return true;
}

std::string utf8(char32_t c) {
    char bytes[4];
    int32_t length = 0;
    UBool failed = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(bytes), length, 4, static_cast<UChar32>(c), failed);
    return failed ? std::string() : std::string(bytes, static_cast<std::size_t>(length));
}

std::string codePoint(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

std::string inWords(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// "mixes Latin and Cyrillic letters: а is U+0430 CYRILLIC SMALL LETTER A": the scripts by how
// many of the name's letters each holds, and the first letter not of the most used one.
std::string mixedScripts(std::string_view name) {
    struct Script {
        UScriptCode code;
        std::size_t letters;
        char32_t first;
    };
    std::vector<Script> scripts;
    forEachCodePoint(name, [&](char32_t c) {
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode code = uscript_getScript(static_cast<UChar32>(c), &status);
        if (U_FAILURE(status) || code == USCRIPT_COMMON || code == USCRIPT_INHERITED || code == USCRIPT_UNKNOWN)
            return;
        const auto known =
            std::find_if(scripts.begin(), scripts.end(), [&](const Script& s) { return s.code == code; });
        if (known == scripts.end())
            scripts.push_back({code, 1, c});
        else
            ++known->letters;
    });
    if (scripts.size() < 2)
        return "mixes letters of several scripts";
    std::stable_sort(scripts.begin(), scripts.end(),
                     [](const Script& a, const Script& b) { return a.letters > b.letters; });
    std::vector<std::string> names;
    for (const Script& script : scripts)
        names.emplace_back(uscript_getName(script.code));
    const auto example = std::min_element(scripts.begin() + 1, scripts.end(), [&](const Script& a, const Script& b) {
        return name.find(utf8(a.first)) < name.find(utf8(b.first));
    });
    return "mixes " + inWords(names) + " letters: " + describeCharacter(example->first);
}

bool continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// `"é" is written as U+0065 U+0301, not as U+00E9`: the part of the name that differs from its
// normalization form C, whole characters of it.
std::string notComposed(std::string_view name, std::string_view composed) {
    std::size_t start = 0;
    while (start < name.size() && start < composed.size() && name[start] == composed[start])
        ++start;
    while (start > 0 && (continuation(name[start]) || (start < composed.size() && continuation(composed[start]))))
        --start;
    std::size_t end = 0; // bytes alike at the end
    const std::size_t room = std::min(name.size(), composed.size()) - start;
    while (end < room && name[name.size() - 1 - end] == composed[composed.size() - 1 - end])
        ++end;
    while (end > 0 && continuation(name[name.size() - end]))
        --end;
    const std::string_view written = name.substr(start, name.size() - end - start);
    const std::string_view usual = composed.substr(start, composed.size() - end - start);
    return "is not in Unicode normalization form C: \"" + std::string(usual) + "\" is written as " +
           codePoints(written) + ", not as " + codePoints(usual);
}

std::string icuSkeleton(const USpoofChecker* spoof, std::string_view name) {
    std::string result(name.size() * 3 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = uspoof_getSkeletonUTF8(spoof, 0, name.data(), static_cast<int32_t>(name.size()), result.data(),
                                            static_cast<int32_t>(result.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        result.resize(static_cast<std::size_t>(length));
        status = U_ZERO_ERROR;
        length = uspoof_getSkeletonUTF8(spoof, 0, name.data(), static_cast<int32_t>(name.size()), result.data(),
                                        static_cast<int32_t>(result.size()), &status);
    }
    if (U_FAILURE(status))
        return std::string(name);
    result.resize(static_cast<std::size_t>(length));
    return result;
}

// The skeleton of each printable ASCII character, as ICU gives it, or empty where ICU's skeleton
// of it starts with a combining mark. Most names are ASCII, and a skeleton maps each character
// of the name on its own and then brings the whole into normalization form D, which leaves alone
// a joint where the next piece starts with a character that combines with nothing before it: so
// an ASCII name's skeleton is its characters' skeletons joined, at a fraction of ICU's cost.
struct AsciiSkeletons {
    std::string pieces[0x7F - 0x20];

    explicit AsciiSkeletons(const USpoofChecker* spoof) {
        for (char c = 0x20; c < 0x7F; ++c) {
            std::string piece = icuSkeleton(spoof, std::string_view(&c, 1));
            UChar32 first = -1;
            int32_t at = 0;
            if (!piece.empty())
                U8_NEXT(reinterpret_cast<const uint8_t*>(piece.data()), at, static_cast<int32_t>(piece.size()), first);
            if (first >= 0 && u_getCombiningClass(first) == 0)
                pieces[c - 0x20] = std::move(piece);
        }
    }
};

} // namespace

std::string describeCharacter(char32_t c) {
    char name[128] = {};
    UErrorCode status = U_ZERO_ERROR;
    u_charName(static_cast<UChar32>(c), U_UNICODE_CHAR_NAME, name, sizeof name, &status);
    std::string text = utf8(c) + " is " + codePoint(c);
    if (U_SUCCESS(status) && name[0] != '\0')
        text += std::string(" ") + name;
    return text;
}

std::string codePoints(std::string_view name) {
    std::string points;
    forEachCodePoint(name, [&](char32_t c) { points += (points.empty() ? "" : " ") + codePoint(c); });
    return points;
}

std::string misleading(std::string_view name) {
    if (printableAscii(name))
        return {}; // one script, and nothing to compose
    std::string reasons;
    const USpoofChecker* spoof = checker();
    UErrorCode status = U_ZERO_ERROR;
    if (spoof && name.size() <= INT32_MAX &&
        uspoof_check2UTF8(spoof, name.data(), static_cast<int32_t>(name.size()), nullptr, &status) != 0 &&
        U_SUCCESS(status))
        reasons = mixedScripts(name);

    status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    const icu::StringPiece text(name.data(), static_cast<int32_t>(name.size()));
    if (U_SUCCESS(status) && !nfc->isNormalizedUTF8(text, status) && U_SUCCESS(status)) {
        std::string composed;
        icu::StringByteSink<std::string> sink(&composed);
        nfc->normalizeUTF8(0, text, sink, nullptr, status);
        if (U_SUCCESS(status))
            reasons += (reasons.empty() ? "" : "; ") + notComposed(name, composed);
    }
    return reasons;
}

std::string edgeSpace(std::string_view name) {
    char32_t first = 0;
    char32_t last = 0;
    if (!forEachCodePoint(name,
                          [&](char32_t c) {
                              if (first == 0)
                                  first = c;
                              last = c;
                          }) ||
        name.empty())
        return {};
    const auto space = [](char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0; };
    const auto named = [](char32_t c) { return c == U' ' ? std::string() : " (" + codePoint(c) + ")"; };
    const bool begins = space(first);
    // A name of one space begins with it and no more.
    const bool ends = space(last) && (name.size() > utf8(first).size() || !begins);
    if (begins && ends)
        return "begins and ends with a space";
    if (begins)
        return "begins with a space" + named(first);
    if (ends)
        return "ends with a space" + named(last);
    return {};
}

std::string skeleton(std::string_view name) {
    const USpoofChecker* spoof = checker();
    if (!spoof || name.size() > INT32_MAX)
        return std::string(name);
    static const AsciiSkeletons ascii(spoof);
    std::string joined;
    for (const char c : name) {
        if (c < 0x20 || c >= 0x7F || ascii.pieces[c - 0x20].empty())
            return icuSkeleton(spoof, name);
        joined += ascii.pieces[c - 0x20];
    }
    return joined;
}

} // namespace dao::NameLook
