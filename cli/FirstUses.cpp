// SPDX-License-Identifier: MIT
#include "cli/FirstUses.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace cli {

namespace {

constexpr std::size_t blockBits = 20;
constexpr std::size_t blockBytes = std::size_t{1} << blockBits;
constexpr std::uint32_t sameAsLook = UINT32_MAX;

std::uint32_t sizeAt(const char* at) {
    std::uint32_t size = 0;
    std::memcpy(&size, at, sizeof size);
    return size;
}

} // namespace

// Memory reserved and not yet used takes no page of the system's: only the uses are reserved,
// as an estimate from the text's size may be well above the names it holds. The slots double as
// they fill, each time placing every taken slot again by the hash it keeps.
void FirstUses::reserve(std::size_t names) {
    m_uses.reserve(names);
}

// A look and a name are kept as the look's size, the name's size and their bytes; a name that
// is its own look is kept once, its size then given as `sameAsLook`. Nothing kept spans two blocks.
std::pair<FirstUses::Index, bool> FirstUses::add(std::string_view look, std::size_t line, std::string_view name) {
    const std::uint32_t tag = static_cast<std::uint32_t>(std::hash<std::string_view>{}(look));
    if (4 * (m_uses.size() + 1) > 3 * m_slots.size())
        grow(std::max<std::size_t>(64, 2 * m_slots.size()));
    const std::size_t slot = slotOf(look, tag);
    if (m_slots[slot] != 0)
        return {static_cast<Index>((m_slots[slot] & UINT32_MAX) - 1), false};
    if (m_uses.size() >= none || look.size() >= UINT32_MAX / 2 || name.size() >= UINT32_MAX / 2)
        throw std::length_error("too many user names");

    const bool same = name == look;
    const std::size_t bytes = 2 * sizeof(std::uint32_t) + look.size() + (same ? 0 : name.size());
    if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < bytes) {
        if (m_blocks.size() >= (std::uint64_t{1} << (64 - blockBits)) || bytes > blockBytes)
            throw std::length_error("too many user names");
        m_blocks.emplace_back().reserve(blockBytes);
    }
    std::string& block = m_blocks.back();
    const std::uint64_t text = (static_cast<std::uint64_t>(m_blocks.size() - 1) << blockBits) | block.size();
    const std::uint32_t sizes[2] = {static_cast<std::uint32_t>(look.size()),
                                    same ? sameAsLook : static_cast<std::uint32_t>(name.size())};
    block.append(reinterpret_cast<const char*>(sizes), sizeof sizes);
    block.append(look);
    if (!same)
        block.append(name);

    const auto use = static_cast<Index>(m_uses.size());
    m_uses.push_back({text, line, false});
    m_slots[slot] = (static_cast<std::uint64_t>(tag) << 32) | (use + 1);
    return {use, true};
}

FirstUses::Index FirstUses::find(std::string_view look) const {
    if (m_slots.empty())
        return none;
    const std::uint64_t slot = m_slots[slotOf(look, static_cast<std::uint32_t>(std::hash<std::string_view>{}(look)))];
    return slot == 0 ? none : static_cast<Index>((slot & UINT32_MAX) - 1);
}

// The slot that holds `look`, or the free slot where it belongs.
std::size_t FirstUses::slotOf(std::string_view look, std::uint32_t tag) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = tag & mask;; slot = (slot + 1) & mask) {
        const std::uint64_t held = m_slots[slot];
        if (held == 0 || ((held >> 32) == tag && this->look(static_cast<Index>((held & UINT32_MAX) - 1)) == look))
            return slot;
    }
}

// Places every use again in a table of `slots` slots (a power of two), by the hash it keeps.
void FirstUses::grow(std::size_t slots) {
    std::vector<std::uint64_t> grown(slots, 0);
    const std::size_t mask = slots - 1;
    for (const std::uint64_t held : m_slots) {
        if (held == 0)
            continue;
        std::size_t slot = (held >> 32) & mask;
        while (grown[slot] != 0)
            slot = (slot + 1) & mask;
        grown[slot] = held;
    }
    m_slots = std::move(grown);
}

std::string_view FirstUses::look(Index use) const {
    const std::uint64_t text = m_uses[use].text;
    const char* at = m_blocks[text >> blockBits].data() + (text & (blockBytes - 1));
    return {at + 2 * sizeof(std::uint32_t), sizeAt(at)};
}

std::string_view FirstUses::name(Index use) const {
    const std::uint64_t text = m_uses[use].text;
    const char* at = m_blocks[text >> blockBits].data() + (text & (blockBytes - 1));
    const std::uint32_t nameSize = sizeAt(at + sizeof(std::uint32_t));
    const std::string_view look(at + 2 * sizeof(std::uint32_t), sizeAt(at));
    return nameSize == sameAsLook ? look : std::string_view(look.data() + look.size(), nameSize);
}

void FirstUses::clear() {
    m_slots = {};
    m_uses = {};
    m_blocks = {};
}

} // namespace cli
