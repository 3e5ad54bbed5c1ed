// SPDX-License-Identifier: MIT
// The list's memory at scale: the whole program, started on a registry of two million accounts,
// may take little more than the names' own bytes beside what it takes for an empty registry.
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testing_support;

namespace {

constexpr long long accounts = 2'000'000;

// The peak resident memory, in bytes, of the program's start on the registry in `folder`, from
// its start to its list painted. GNU time reports it: a child spawned from this process would
// count this process's own memory, as the kernel carries it over to the program it runs.
long long peakOfStart(const std::string& folder) {
    const TempFolder report;
    const std::string command = "/usr/bin/time -f %M -o '" + report.file("peak") + "' '" VANTREL_STARTUP_PROBE "' '" +
                                folder + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return -1;
    return std::stoll(readBytes(report.file("peak"))) * 1024;
}

TEST(ListMemoryTest, PeakGrowsByTheNamesAndFourBytesAnAccount) {
#ifdef VANTREL_SANITIZE
    GTEST_SKIP() << "the sanitizers' own bookkeeping makes memory figures meaningless";
#endif
    TempFolder empty;
    makeRegistry(empty.path());
    const long long base = peakOfStart(empty.path());
    ASSERT_GT(base, 0);

    // Names in index order, so that the file is made in seconds: ASCII ones as the demo makes
    // them, and names of 15 characters of three bytes each, the widest a person types.
    const struct {
        const char* kind;
        const char* name; // an SQL expression over the account number i
    } cases[] = {
        {"ASCII", "printf('user.%07d', i)"},
        {"wide", "char(0x540D, 0x5B57, 0x7528, 0x6237, 0x8D26, 0x53F7, 0x7BA1, 0x7406, 0x5458, 0x670D, "
                 "0x4E00 + ((i >> 20) & 31), 0x4E00 + ((i >> 15) & 31), 0x4E00 + ((i >> 10) & 31), "
                 "0x4E00 + ((i >> 5) & 31), 0x4E00 + (i & 31))"},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        OtherProgram other(makeRegistry(folder.path()));
        other.exec("PRAGMA cache_size = -65536");
        other.exec(std::string("INSERT INTO Servers (User) WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 "
                               "FROM n WHERE i < ") +
                   std::to_string(accounts - 1) + ") SELECT " + c.name + " FROM n");
        const long long names = other.number("SELECT sum(length(CAST(User AS BLOB))) FROM Servers");
        ASSERT_EQ(other.number("SELECT count(DISTINCT User) FROM Servers"), accounts) << c.kind;

        const long long peak = peakOfStart(folder.path());
        ASSERT_GT(peak, 0) << c.kind;
        // Four bytes an account say where its name ends; the rest is room for SQLite's page
        // cache (2 MB) and what the allocator keeps back. Another copy of the names, or eight
        // bytes an account anywhere, goes past it.
        const long long allowed = names + 4 * accounts + (6LL << 20);
        EXPECT_LE(peak - base, allowed) << c.kind << ": " << (peak - base) / 1024 / 1024
                                        << " MiB above an empty registry (" << base / 1024 / 1024 << " MiB) for "
                                        << names / 1024 / 1024 << " MiB of names";
    }
}

} // namespace
