// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

// The first record of each look of a user name (its skeleton, or the name itself), with its line
// and its name, for an import's millions of names. Each name takes a few fixed-size array slots
// and its bytes in large blocks, where a map of strings takes a node of over a hundred bytes and
// an allocation per name: memory the import needs while reading every record, and frees at once.
class FirstUses {
public:
    using Index = std::uint32_t;

    // Makes room for about `names` looks.
    void reserve(std::size_t names);

    // The first use of `look`, and false; or, when it has none, records `line` and `name` as its
    // first use, not accepted, and returns it with true.
    std::pair<Index, bool> add(std::string_view look, std::size_t line, std::string_view name);
    // The first use of `look`, or none.
    static constexpr Index none = UINT32_MAX;
    Index find(std::string_view look) const;

    std::size_t line(Index use) const { return m_uses[use].line; }
    std::string_view name(Index use) const;
    bool accepted(Index use) const { return m_uses[use].accepted; }
    void setAccepted(Index use, bool accepted) { m_uses[use].accepted = accepted; }

    bool empty() const { return m_uses.empty(); }
    // Frees the memory taken.
    void clear();

private:
    struct Use {
        std::uint64_t text;  // where the look's and the name's sizes and bytes are kept: block and offset
        std::uint64_t line : 63;
        std::uint64_t accepted : 1;
    };

    std::string_view look(Index use) const;
    std::size_t slotOf(std::string_view look, std::uint32_t tag) const;
    void grow(std::size_t slots);

    // Open addressing: each slot holds a look's hash (high half) and its index in m_uses plus one
    // (low half), or 0 when free. At most three in four slots are taken, so a search soon meets a
    // free one.
    std::vector<std::uint64_t> m_slots;
    std::vector<Use> m_uses;
    std::vector<std::string> m_blocks;
};

} // namespace cli
