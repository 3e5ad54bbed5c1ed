// SPDX-License-Identifier: MIT
#pragma once

namespace testing_support {

// User names that pass for others on screen, and names of several scripts that do not. The list's
// mark, `check` and `import` all answer to this one table.
struct LookAlikeName {
    const char* name;
    const char* looksLike; // the name of the table it passes for, or null
    bool marked;           // it mixes scripts or is not NFC: the list and the editor's heading mark it
    bool edgeSpace;        // it begins or ends with a space
};

inline constexpr LookAlikeName lookAlikeNames[] = {
    {"admin", nullptr, false, false},
    {"\u0430dmin", "admin", true, false}, // Cyrillic а
    {"paypal", nullptr, false, false},
    {"p\u0430yp\u0430l", "paypal", true, false},
    {"copy", nullptr, false, false},
    {"\u0441\u043E\u0440\u0443", "copy", false, false}, // all Cyrillic: one script, given away by its look alone
    {"\u00E9clair", nullptr, false, false},
    {"e\u0301clair", "\u00E9clair", true, false}, // e and a combining accent
    {" petra", nullptr, false, true},
    {"ivan ", nullptr, false, true},
    {"Zo\u00EB", nullptr, false, false},
    {"\u1F08\u03B8\u03B7\u03BD\u1FB6", nullptr, false, false}, // Ἀθηνᾶ
    {"\u540D\u524D", nullptr, false, false},                   // 名前
    {"\u05E9\u05DC\u05D5\u05DD", nullptr, false, false},       // שלום
    {"admin-2", nullptr, false, false},
};

} // namespace testing_support
