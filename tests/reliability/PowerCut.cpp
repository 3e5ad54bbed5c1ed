// SPDX-License-Identifier: MIT
#include "tests/reliability/PowerCut.h"

#include <algorithm>

namespace reliability {

using testing_support::FileEvent;

namespace {

constexpr std::int64_t sectorSize = 512;

// One file's bytes: those on the disk for good, and the changes made since its last sync.
struct Inode {
    std::string durable;
    std::vector<const FileEvent*> pending;
};

void writeAt(std::string& content, std::int64_t offset, const std::string& bytes) {
    const auto start = static_cast<std::size_t>(offset);
    if (content.size() < start + bytes.size())
        content.resize(start + bytes.size(), '\0');
    std::copy(bytes.begin(), bytes.end(), content.begin() + static_cast<std::ptrdiff_t>(start));
}

void apply(std::string& content, const FileEvent& change) {
    if (change.kind == FileEvent::Kind::Write)
        writeAt(content, change.offset, change.bytes);
    else if (change.kind == FileEvent::Kind::Truncate)
        content.resize(static_cast<std::size_t>(change.offset), '\0');
}

// Only the even-numbered sectors a write covers reach the disk.
void applyTorn(std::string& content, const FileEvent& change) {
    if (change.kind != FileEvent::Kind::Write)
        return;
    const std::int64_t end = change.offset + static_cast<std::int64_t>(change.bytes.size());
    for (std::int64_t at = change.offset; at < end;) {
        const std::int64_t sector = at / sectorSize;
        const std::int64_t sectorEnd = std::min(end, (sector + 1) * sectorSize);
        if (sector % 2 == 0)
            writeAt(content, at,
                    change.bytes.substr(static_cast<std::size_t>(at - change.offset),
                                        static_cast<std::size_t>(sectorEnd - at)));
        at = sectorEnd;
    }
}

} // namespace

const char* powerCutName(PowerCut way) {
    static const char* const names[] = {"lost", "kept", "torn"};
    return names[static_cast<int>(way)];
}

std::map<std::string, std::string> diskAfterPowerCut(const std::map<std::string, std::string>& before,
                                                     const std::vector<FileEvent>& events, std::size_t cut,
                                                     PowerCut way) {
    std::vector<Inode> inodes;
    std::map<std::string, std::size_t> names;        // what the folder lists now
    std::map<std::string, std::size_t> durableNames; // what it lists for good
    for (const auto& [name, bytes] : before) {
        names[name] = inodes.size();
        inodes.push_back({bytes, {}});
    }
    durableNames = names;

    for (std::size_t i = 0; i < cut && i < events.size(); ++i) {
        const FileEvent& event = events[i];
        switch (event.kind) {
        case FileEvent::Kind::Create:
            names[event.name] = inodes.size();
            inodes.push_back({});
            break;
        case FileEvent::Kind::Write:
        case FileEvent::Kind::Truncate:
            if (names.count(event.name))
                inodes[names[event.name]].pending.push_back(&event);
            break;
        case FileEvent::Kind::Sync:
            if (names.count(event.name)) {
                Inode& inode = inodes[names[event.name]];
                for (const FileEvent* change : inode.pending)
                    apply(inode.durable, *change);
                inode.pending.clear();
            }
            break;
        case FileEvent::Kind::Delete:
            names.erase(event.name);
            break;
        case FileEvent::Kind::DirectorySync:
            durableNames = names;
            break;
        }
    }

    std::map<std::string, std::string> disk;
    for (const auto& [name, index] : way == PowerCut::Kept ? names : durableNames) {
        const Inode& inode = inodes[index];
        std::string content = inode.durable;
        for (const FileEvent* change : inode.pending) {
            if (way == PowerCut::Kept)
                apply(content, *change);
            else if (way == PowerCut::Torn)
                applyTorn(content, *change);
        }
        disk[name] = std::move(content);
    }
    return disk;
}

} // namespace reliability
