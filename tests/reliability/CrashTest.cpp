// SPDX-License-Identifier: MIT
// A process saving through the store is killed with SIGKILL at random moments. After every kill
// the file is sound, every account holds the values of exactly one save (never a mix), and no
// save that had returned is lost. Hot journals left by a kill are rolled back by the next open;
// nothing of ours removes them.
#include "store/Variant.h"
#include "store/mdlDatabase.h"
#include "tests/reliability/Scale.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testing_support;

namespace {

constexpr int rows = 12;

struct WriterRun {
    int status = 0;
    std::string output;
};

// Starts the writer, kills it after `delay`, and collects what it reported.
WriterRun killWriterAfter(const std::string& folder, long long firstGeneration, unsigned seed,
                          std::chrono::microseconds delay) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {-1, {}};
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        const std::string rowCount = std::to_string(rows);
        const std::string first = std::to_string(firstGeneration);
        const std::string seedText = std::to_string(seed);
        execl(CRASH_WRITER, CRASH_WRITER, folder.c_str(), rowCount.c_str(), first.c_str(), seedText.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    std::this_thread::sleep_for(delay);
    kill(child, SIGKILL);
    WriterRun run;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    waitpid(child, &run.status, 0);
    return run;
}

class CrashTest : public ::testing::Test {
protected:
    void SetUp() override {
        mdlDatabase::SetRegistryFolderForTesting(folder.path());
        registry = makeRegistry(folder.path());
        std::vector<std::vector<dao::Variant>> accounts;
        for (int row = 0; row < rows; ++row)
            accounts.push_back(
                {"crash-" + std::to_string(row), "0", "Name 0", "Description 0" + std::string(180, '.'), 0});
        OtherProgram(registry).addRows("User, Password, Name, Description, Official", accounts);
        committed.assign(rows, 0);
    }
    void TearDown() override { mdlDatabase::SetRegistryFolderForTesting(""); }

    // Reads every account through the store, as the program would after the crash, and checks
    // that each holds one whole save, no older than the last save reported done.
    void checkAccounts(int kill) {
        mdlDatabase::OpenDB();
        auto& servers = *mdlDatabase::rsServers;
        int seen = 0;
        for (; !servers.Eof(); servers.MoveNext(), ++seen) {
            const std::string user = servers.Fields("User").Value().toText();
            const int row = std::stoi(user.substr(6));
            const std::string password = servers.Fields("Password").Value().toText();
            const long long generation = std::stoll(password);
            const std::string description = "Description " + password;
            const std::string dots(static_cast<std::size_t>(180 + generation % 40), '.');
            EXPECT_EQ(servers.Fields("Name").Value().toText(), "Name " + password) << "kill " << kill;
            EXPECT_EQ(servers.Fields("Description").Value().toText(), description + dots) << "kill " << kill;
            EXPECT_EQ(servers.Fields("Official").Value().toInteger(), generation % 2) << "kill " << kill;
            if (generation < committed[static_cast<std::size_t>(row)]) {
                ++lost;
                ADD_FAILURE() << "kill " << kill << ": the save of " << committed[static_cast<std::size_t>(row)]
                              << " to row " << row << " was lost";
            }
        }
        mdlDatabase::CloseDB();
        EXPECT_EQ(seen, rows);
        OtherProgram other(registry);
        EXPECT_EQ(other.text("PRAGMA integrity_check"), "ok") << "kill " << kill;
    }

    // Kills the writer `kills` times; returns the saves it reported done.
    long long killRepeatedly(int kills, int firstKill, int* hotJournals) {
        std::mt19937 random(static_cast<unsigned>(firstKill + 1));
        // The sanitizers slow the writer's start as much as its saves: wait longer there.
        const int longest = 60'000 * (RELIABILITY_DIVISOR > 1 ? 4 : 1);
        long long saves = 0;
        for (int kill = firstKill; kill < firstKill + kills; ++kill) {
            const auto delay = std::chrono::microseconds(2'000 + random() % static_cast<unsigned>(longest));
            const WriterRun run = killWriterAfter(folder.path(), (kill + 1) * 1'000'000LL, random(), delay);
            EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGKILL)
                << "the writer stopped by itself, status " << run.status;
            std::istringstream reported(run.output);
            int row;
            long long generation;
            while (reported >> row >> generation) {
                committed[static_cast<std::size_t>(row)] = generation;
                ++saves;
            }
            if (std::filesystem::exists(registry + "-journal"))
                ++*hotJournals;
            checkAccounts(kill);
            if (HasFailure())
                break;
        }
        return saves;
    }

    TempFolder folder;
    std::string registry;
    std::vector<long long> committed;
    int lost = 0;
};

TEST_F(CrashTest, KilledAtRandomMomentsTheFileStaysSoundAndLosesNothing) {
    const int rollbackKills = reliability::scaled(200);
    const int walKills = reliability::scaled(100);
    int hotJournals = 0;
    const auto started = std::chrono::steady_clock::now();
    const long long rollbackSaves = killRepeatedly(rollbackKills, 0, &hotJournals);

    // The same with the file in WAL mode, switched by another program.
    OtherProgram(registry).exec("PRAGMA journal_mode = WAL");
    int walLeft = 0;
    const long long walSaves = killRepeatedly(walKills, rollbackKills, &walLeft);
    EXPECT_EQ(OtherProgram(registry).text("PRAGMA journal_mode"), "wal");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GT(rollbackSaves + walSaves, 0);
    std::printf("[reliability] crashes: %d kills survived (%d rollback journal, %d WAL), %lld saves completed "
                "between kills, %d hot journals rolled back, %d saves lost, in %.1f s\n",
                rollbackKills + walKills, rollbackKills, walKills, rollbackSaves + walSaves, hotJournals, lost,
                seconds);
}

} // namespace
