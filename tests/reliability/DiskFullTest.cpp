// SPDX-License-Identifier: MIT
// A real full disk: a small tmpfs, filled up while the editor is open and before the tool
// imports. The save and the import fail with the disk error, nothing is lost, and once space
// is freed the next save lands. Mounting needs root; elsewhere the test says so and is skipped.
#include "tests/reliability/Durability.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

using namespace testing_support;
using namespace reliability;

namespace {

// A tmpfs of `size` mounted on a folder of its own, unmounted again whatever happens.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& size) {
        if (geteuid() != 0) {
            m_refusal = "mounting a tmpfs needs root";
            return;
        }
        if (mount("tmpfs", m_point.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, ("size=" + size).c_str()) != 0)
            m_refusal = std::string("this machine refuses to mount a tmpfs: ") + std::strerror(errno);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    ~SmallDisk() {
        if (m_refusal.empty())
            umount2(m_point.path().c_str(), MNT_DETACH);
    }

    // Empty when mounted, else why not.
    const std::string& refusal() const { return m_refusal; }
    const std::string& path() const { return m_point.path(); }

    // Writes a file until the disk has no room left.
    void fill() const {
        const int file = ::open((path() + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(file, 0) << std::strerror(errno);
        const std::string block(4096, 'x');
        while (::write(file, block.data(), block.size()) > 0) {
        }
        // Whatever room is left is smaller than a block: fill it byte by byte.
        while (::write(file, block.data(), 1) > 0) {
        }
        ::close(file);
    }
    void free() const { std::filesystem::remove(path() + "/filler"); }

private:
    TempFolder m_point;
    std::string m_refusal;
};

class DiskFullTest : public WindowTest<> {};

TEST_F(DiskFullTest, ASaveAndAnImportOnAFullDiskFailWithTheDiskErrorAndTheNextSaveLands) {
    const std::pair<Durability, const char*> cases[] = {
        {{Operation::Save, JournalMode::Rollback}, "save, rollback journal"},
        {{Operation::Save, JournalMode::Wal}, "save, WAL"},
        {{Operation::Import, JournalMode::Rollback}, "import, rollback journal"},
        {{Operation::Import, JournalMode::Wal}, "import, WAL"},
    };
    for (const auto& [durability, name] : cases) {
        SmallDisk disk("1m");
        if (!disk.refusal().empty())
            GTEST_SKIP() << "No real full disk to try: " << disk.refusal() << ".";
        const DurabilityBench bench(durability);
        bench.prepare(disk.path());

        const Outcome outcome = bench.run(disk.path(), [&] { disk.fill(); });
        EXPECT_FALSE(outcome.done) << name;
        EXPECT_EQ(outcome.errorNumber, 7) << name << ": " << outcome.message;

        disk.free();
        Found found = Found::Mixed;
        EXPECT_EQ(bench.nextRun(disk.path(), found), "") << name;
        EXPECT_EQ(found, Found::Old) << name;

        // With room again, the same operation lands.
        EXPECT_TRUE(bench.run(disk.path(), [] {}).done) << name;
        EXPECT_EQ(bench.nextRun(disk.path(), found), "") << name;
        EXPECT_EQ(found, Found::New) << name;
    }
}

} // namespace
