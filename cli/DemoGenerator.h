// SPDX-License-Identifier: MIT
#pragma once

#include "store/Variant.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Realistic made-up accounts for trying Vantrel: user names, passwords, people's names in several
// scripts, descriptions with line breaks (CR LF), update addresses, and now and then a user name
// that an earlier account already has. The same seed always gives the same accounts, on every
// platform: the generator and every choice it makes are our own, not the standard library's.
class DemoGenerator {
public:
    // The fields of one account in the order of the "Servers" table: User, Password, Name,
    // Description, UpdateURL, Official, Date, Time.
    using Account = std::array<dao::Variant, 8>;

    explicit DemoGenerator(std::uint64_t seed);

    // Fills `account` with the next account. Every value keeps the table's rules.
    void next(Account& account);

private:
    std::uint64_t random();
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(random() % bound); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
    template <std::size_t N> const char* pick(const char* const (&items)[N]) { return items[below(N)]; }

    std::string userName(const std::string& given, const std::string& family);
    std::string password();
    std::string description(const std::string& given);

    std::uint64_t m_state;
    std::vector<std::string> m_recentUsers; // a few earlier names, for the occasional duplicate
};

} // namespace cli
