// SPDX-License-Identifier: MIT
#include "store/FieldRule.h"
#include "store/ServersFields.h"
#include "store/Statement.h"

#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>

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

} // namespace
