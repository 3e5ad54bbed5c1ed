// SPDX-License-Identifier: MIT
#pragma once

#include "store/Variant.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace cli {

// Realistic made-up accounts for trying Vantrel: user names, passwords, people's names in several
// scripts, descriptions with line breaks (CR LF) and update addresses. Its user names are all
// different and none looks like another (see NameLook), so a demo registry checks clean; with
// `withDuplicates`, now and then a user name is one that an earlier account already has, and
// names may look alike, for trying how the program meets them. The same seed always gives the
// same accounts, on every platform: the generator and every choice it makes are our own, not the
// standard library's.
class DemoGenerator {
public:
    // The fields of one account in the order of the "Servers" table: User, Password, Name,
    // Description, UpdateURL, Official, Date, Time.
    using Account = std::array<dao::Variant, 8>;

    explicit DemoGenerator(std::uint64_t seed, bool withDuplicates = false);

    // Fills `account` with the next account. Every value keeps the table's rules.
    void next(Account& account);

private:
    std::uint64_t random();
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(random() % bound); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
    template <std::size_t N> const char* pick(const char* const (&items)[N]) { return items[below(N)]; }

    std::string letters(const std::string& given, const std::string& family);
    std::string userName(const std::string& given, const std::string& family);
    std::string distinctUserName(const std::string& given, const std::string& family);
    std::string password();
    std::string description(const std::string& given);

    // How often the letters of a user name have been used, and the key that shuffles their
    // numbers, by the letters' skeleton.
    struct LetterUse {
        std::uint64_t count = 0;
        std::uint64_t key = 0;
    };

    std::uint64_t m_state;
    bool m_withDuplicates;
    std::unordered_map<std::string, std::string> m_skeletons; // of each user name's letters
    std::unordered_map<std::string, LetterUse> m_letterUses;
    std::vector<std::string> m_recentUsers; // a few earlier names, for the occasional duplicate
};

} // namespace cli
