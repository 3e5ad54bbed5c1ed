// SPDX-License-Identifier: MIT
#include "store/FieldRule.h"
#include "store/ServersFields.h"
#include "store/Statement.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/SqliteShell.h"
#include "tests/support/TempFolder.h"

#include <SQLiteCpp/Database.h>
#include <sqlite3.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Values at and around every limit of the account fields, of every storage class.
const char* const boundaryValues = "VALUES (''), ('1'), ('true'), (0), (1), (2), (-1), (255), (256), (1.0), (0.5), "
                                   "(X'31'), (replace(hex(zeroblob(15)), '00', 'x')), "
                                   "(replace(hex(zeroblob(16)), '00', 'x')), (replace(hex(zeroblob(15)), '00', 'é')), "
                                   "(replace(hex(zeroblob(16)), '00', 'é')), (replace(hex(zeroblob(50)), '00', 'x')), "
                                   "(replace(hex(zeroblob(51)), '00', 'x')), (replace(hex(zeroblob(250)), '00', 'x')), "
                                   "(replace(hex(zeroblob(251)), '00', 'x'))";

// What SQLite enforces through a field's CHECK and what the import and the check test in C++
// must agree on every value: a value one lets through and the other refuses is an account that
// imports but cannot be saved, or one saved that the check then reports.
TEST(FieldRuleTest, SqlConditionAndValueTestAgreeAtEveryLimit) {
    SQLite::Database memory(":memory:", SQLite::OPEN_READWRITE);
    for (const dao::Field& field : mdlDatabase::ServersFields()) {
        const dao::FieldRule rule = field.Rule();
        dao::Statement values(memory.getHandle(), "SELECT v, " + rule.Condition("v") +
                                                      " FROM (SELECT column1 AS v FROM (" +
                                                      std::string(boundaryValues) + "))");
        int kept = 0;
        int refused = 0;
        while (values.step()) {
            const dao::Variant value = values.value(0);
            const bool keptBySql = values.integer(1) != 0;
            const std::string reason = rule.Refusal(value);
            EXPECT_EQ(keptBySql, reason.empty()) << field.Name() << " and " << value.describe() << ": " << reason;
            ++(keptBySql ? kept : refused);
        }
        EXPECT_GT(kept, 0) << field.Name();
        EXPECT_GT(refused, 0) << field.Name();
    }
}

// Another program writing "Official" into a registry made as `init` makes it: the file itself
// keeps only 0 and 1 (text that reads as one of them is stored as that number).
TEST(FieldRuleTest, TheFileKeepsOfficialToZeroAndOne) {
    const struct {
        const char* value;
        const char* stored; // as quote() writes it; null: refused
    } cases[] = {{"0", "0"},      {"1", "1"},     {"NULL", "NULL"},    {"'1'", "1"},
                 {"-1", nullptr}, {"2", nullptr}, {"'true'", nullptr}, {"0.5", nullptr}};
    TempFolder folder;
    const std::string path = makeRegistry(folder.path());
    for (const auto& c : cases) {
        const std::string insert = "INSERT INTO Servers (User, Password, Official) VALUES ('u', 'pw', ";
        const ShellRun run = runSqlite(path, "DELETE FROM Servers; " + insert + c.value + ");");
        EXPECT_EQ(run.status == 0, c.stored != nullptr) << c.value << ": " << run.errors;
        if (c.stored) {
            EXPECT_EQ(OtherProgram(path).text("SELECT quote(Official) FROM Servers"), c.stored) << c.value;
        } else {
            EXPECT_THAT(run.errors, ::testing::HasSubstr("CHECK constraint failed: Official")) << c.value;
        }
    }
}

} // namespace
