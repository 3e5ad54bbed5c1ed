// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// The two writes whose durability the fault and power-cut checks prove: the operator's save of
// one account in the editor, and the registry tool's import of a few hundred accounts, each on a
// registry of a few hundred accounts kept with the rollback journal or in WAL mode.
namespace reliability {

enum class Operation { Save, Import };
enum class JournalMode { Rollback, Wal };

struct Durability {
    Operation operation;
    JournalMode journal;
};

std::string describe(const Durability& durability);

// What an operation reported: done, or failed with the store's error number (0: not a store error).
struct Outcome {
    bool done = false;
    bool unconfirmed = false; // done, with the warning that the disk did not confirm it
    int errorNumber = 0;
    std::string message;
};

// Where the operation's account or accounts stand in a file.
enum class Found { Old, New, Mixed };

// A registry folder made afresh for each run from one prepared file.
class DurabilityBench {
public:
    explicit DurabilityBench(const Durability& durability);

    // Empties `folder` and puts the prepared registry in it as "zarn.dat".
    void prepare(const std::string& folder) const;
    // The registry's files in `folder` (name to bytes).
    static std::map<std::string, std::string> files(const std::string& folder);
    // Replaces whatever registry files `folder` holds with `disk`.
    static void restore(const std::string& folder, const std::map<std::string, std::string>& disk);

    // Runs the operation on the registry in `folder`. `start` runs just before it writes anything
    // (after the editor has loaded), to arm a fault or start counting.
    Outcome run(const std::string& folder, const std::function<void()>& start) const;

    // Checks the registry in `folder` as the next run of the program finds it: the list window
    // loads every account, the file passes integrity_check, every other account is as it was, and the operation's
    // accounts are wholly old or wholly new; then a save of another account through the editor lands. An empty string
    // when all holds, else what failed; `found` says where the operation stood.
    std::string nextRun(const std::string& folder, Found& found) const;

private:
    Durability m_case;
    std::string m_prepared;
    std::vector<std::string> m_untouched; // each account neither the operation nor the next run touches, quoted
};

} // namespace reliability
