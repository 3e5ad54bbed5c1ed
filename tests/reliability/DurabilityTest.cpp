// SPDX-License-Identifier: MIT
// The editor's save and the registry tool's import, with the rollback journal and in WAL mode,
// under a failing disk and under power cuts. Every call the operation makes to the registry, its
// journal, its WAL and its -shm is failed in turn with each error a disk gives, once and from
// then on: the failure is reported, the file stays sound and wholly old or wholly new, and the
// next run lists and saves. Then the power is cut before every write and sync, with the unsynced
// writes lost, kept or torn: every image opens sound, and a save reported done is never lost.
#include "tests/reliability/Durability.h"
#include "store/DBEngine.h"
#include "tests/reliability/PowerCut.h"
#include "tests/reliability/Scale.h"
#include "tests/support/FaultVfs.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

using namespace testing_support;
using namespace reliability;

namespace {

// Before anything opens a file: every connection of this process goes through the layer.
const auto* const faultLayer = ::testing::AddGlobalTestEnvironment(new FaultVfsEnvironment);

struct DiskError {
    int code;
    const char* name;
};

// What a failing disk makes each call return.
std::vector<DiskError> diskErrors(FileCall call, FileRole role) {
    switch (call) {
    case FileCall::Open:
        if (role == FileRole::Shm)
            return {{SQLITE_IOERR_SHMSIZE, "SQLITE_IOERR_SHMSIZE"}, {SQLITE_IOERR_SHMMAP, "SQLITE_IOERR_SHMMAP"}};
        return {{SQLITE_CANTOPEN, "SQLITE_CANTOPEN"}};
    case FileCall::Read:
        return {{SQLITE_IOERR_READ, "SQLITE_IOERR_READ"}};
    case FileCall::Write:
        return {{SQLITE_FULL, "SQLITE_FULL"}, {SQLITE_IOERR_WRITE, "SQLITE_IOERR_WRITE"}};
    case FileCall::Sync:
        return {{SQLITE_IOERR_FSYNC, "SQLITE_IOERR_FSYNC"}};
    case FileCall::Truncate:
        return {{SQLITE_IOERR_TRUNCATE, "SQLITE_IOERR_TRUNCATE"}};
    case FileCall::Delete:
        return {{SQLITE_IOERR_DELETE, "SQLITE_IOERR_DELETE"}};
    case FileCall::FolderSync:
        return {{SQLITE_IOERR_DIR_FSYNC, "SQLITE_IOERR_DIR_FSYNC"}};
    case FileCall::Lock:
        if (role == FileRole::Shm)
            return {{SQLITE_IOERR_SHMLOCK, "SQLITE_IOERR_SHMLOCK"}};
        return {{SQLITE_IOERR_LOCK, "SQLITE_IOERR_LOCK"}};
    }
    return {};
}

class DurabilityTest : public WindowTest<::testing::TestWithParam<Durability>> {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // A connection that a failure left holding a lock shows at once, not after five seconds.
        dao::DBEngine::instance().SetBusyTimeout(std::chrono::milliseconds(500));
    }
};

TEST_P(DurabilityTest, EveryFailedCallIsReportedAndLeavesTheFileWhollyOldOrWhollyNew) {
    const Durability durability = GetParam();
    const DurabilityBench bench(durability);
    const std::string work = folder.path();
    const auto started = std::chrono::steady_clock::now();

    bench.prepare(work);
    const Outcome clean = [&] {
        const FaultWatch watch(work);
        return bench.run(work, [] { FaultVfs::resetCounts(); });
    }();
    ASSERT_TRUE(clean.done) << clean.message;
    std::map<std::pair<FileCall, FileRole>, int> calls;
    for (int c = 0; c < fileCalls; ++c)
        for (int r = 0; r < fileRoles; ++r)
            calls[{FileCall(c), FileRole(r)}] = FaultVfs::calls(FileCall(c), FileRole(r));

    int injected = 0, survived = 0, reportedFailed = 0, unconfirmed = 0, runs = 0;
    std::map<int, int> errorsShown;
    for (const auto& [kind, count] : calls) {
        const auto [call, role] = kind;
        for (int nth = 1; nth <= count; ++nth)
            for (const DiskError& error : diskErrors(call, role))
                for (const bool fromThenOn : {false, true}) {
                    if (++runs % RELIABILITY_DIVISOR != 0)
                        continue; // under the sanitizers, a sample
                    bench.prepare(work);
                    const Outcome outcome = [&] {
                        const FaultWatch watch(work);
                        return bench.run(work, [&] { FaultVfs::arm({call, role, nth, error.code, fromThenOn}); });
                    }();
                    if (!FaultVfs::fired())
                        continue; // this run took another way and never made that call
                    ++injected;
                    Found found = Found::Mixed;
                    std::string problem = bench.nextRun(work, found);
                    if (problem.empty() && outcome.done && found != Found::New)
                        problem = "reported done, but the file holds the old data";
                    if (problem.empty() && !outcome.done && found != Found::Old)
                        problem = "reported failed (" + outcome.message + "), but the new data was written";
                    if (problem.empty() && !outcome.done && outcome.errorNumber == 0)
                        problem = "the failure carried no error number: " + outcome.message;
                    if (!problem.empty()) {
                        ADD_FAILURE() << describe(durability) << ": " << callName(call) << " #" << nth << " of the "
                                      << roleName(role) << " failed with " << error.name
                                      << (fromThenOn ? " from then on" : " once") << ": " << problem;
                        continue;
                    }
                    ++survived;
                    unconfirmed += outcome.unconfirmed ? 1 : 0;
                    if (!outcome.done) {
                        ++reportedFailed;
                        ++errorsShown[outcome.errorNumber];
                    }
                }
    }
    std::string shown;
    for (const auto& [number, times] : errorsShown)
        shown += (shown.empty() ? "" : ", ") + std::to_string(times) + " x error " + std::to_string(number);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[reliability] faults, %s: %d injected, %d survived (%d reported failed: %s; %d done anyway, %d of "
                "them reported done with the disk's failure), in %.1f s\n",
                describe(durability).c_str(), injected, survived, reportedFailed, shown.c_str(),
                survived - reportedFailed, unconfirmed, seconds);
    EXPECT_EQ(survived, injected);
    EXPECT_GE(injected, scaled(50)); // a layer that fails nothing proves nothing
}

TEST_P(DurabilityTest, APowerCutAtAnyWriteOrSyncLeavesASoundFileAndLosesNothingReportedDone) {
    const Durability durability = GetParam();
    const DurabilityBench bench(durability);
    const std::string work = folder.path();
    const auto started = std::chrono::steady_clock::now();

    bench.prepare(work);
    const auto before = DurabilityBench::files(work);
    std::vector<FileEvent> events;
    const Outcome outcome = [&] {
        const FaultWatch watch(work);
        FaultVfs::startRecording();
        const Outcome recorded = bench.run(work, [] {});
        events = FaultVfs::stopRecording();
        return recorded;
    }();
    ASSERT_TRUE(outcome.done) << outcome.message;

    TempFolder image;
    int images = 0, sound = 0, lost = 0, cuts = 0;
    for (std::size_t cut = 0; cut <= events.size(); ++cut) {
        const bool atEnd = cut == events.size();
        if (!atEnd && events[cut].kind != FileEvent::Kind::Write && events[cut].kind != FileEvent::Kind::Sync &&
            events[cut].kind != FileEvent::Kind::Truncate && events[cut].kind != FileEvent::Kind::Delete)
            continue;
        if (!atEnd && ++cuts % RELIABILITY_DIVISOR != 0)
            continue; // under the sanitizers, a sample; the cut after the operation always runs
        for (const PowerCut way : {PowerCut::Lost, PowerCut::Kept, PowerCut::Torn}) {
            ++images;
            DurabilityBench::restore(image.path(), diskAfterPowerCut(before, events, cut, way));
            Found found = Found::Mixed;
            std::string problem = bench.nextRun(image.path(), found);
            if (problem.empty() && atEnd && found != Found::New) {
                ++lost;
                problem = "reported done, then lost";
            }
            if (!problem.empty()) {
                ADD_FAILURE() << describe(durability) << ": power cut "
                              << (atEnd ? std::string("after the operation")
                                        : "before event " + std::to_string(cut) + " of " +
                                              std::to_string(events.size()) + " (" + events[cut].name + ")")
                              << ", unsynced writes " << powerCutName(way) << ": " << problem;
                continue;
            }
            ++sound;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[reliability] power cuts, %s: %zu file events recorded, %d images rebuilt, %d sound, "
                "%d lost, in %.1f s\n",
                describe(durability).c_str(), events.size(), images, sound, lost, seconds);
    EXPECT_EQ(sound, images);
}

INSTANTIATE_TEST_SUITE_P(Writes, DurabilityTest,
                         ::testing::Values(Durability{Operation::Save, JournalMode::Rollback},
                                           Durability{Operation::Save, JournalMode::Wal},
                                           Durability{Operation::Import, JournalMode::Rollback},
                                           Durability{Operation::Import, JournalMode::Wal}),
                         [](const auto& test) {
                             return std::string(test.param.operation == Operation::Save ? "Save" : "Import") +
                                    (test.param.journal == JournalMode::Rollback ? "RollbackJournal" : "Wal");
                         });

} // namespace
