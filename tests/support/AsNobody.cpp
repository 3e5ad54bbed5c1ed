// SPDX-License-Identifier: MIT
#include "tests/support/AsNobody.h"

#include "store/Error.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace {

// The failed checks the current test has recorded so far.
int failedChecks() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i)
        failed += result->GetTestPartResult(i).failed() ? 1 : 0;
    return failed;
}

bool becomeNobody() {
    if (geteuid() != 0)
        return true;
    const passwd* nobody = getpwnam("nobody");
    const uid_t user = nobody ? nobody->pw_uid : 65534;
    const gid_t group = nobody ? nobody->pw_gid : 65534;
    return setgroups(0, nullptr) == 0 && setresgid(group, group, group) == 0 && setresuid(user, user, user) == 0;
}

} // namespace

void asNobody(const std::function<void()>& check) {
    std::fflush(nullptr); // what this process printed must not be printed twice
    const pid_t child = fork();
    if (child < 0) {
        ADD_FAILURE() << "cannot start a process";
        return;
    }
    if (child == 0) {
        const int before = failedChecks();
        if (!becomeNobody()) {
            ADD_FAILURE() << "cannot become the user \"nobody\"";
        } else {
            try {
                check();
            } catch (const dao::Error& error) {
                ADD_FAILURE() << "the check as \"nobody\" failed with error " << error.number() << ": "
                              << error.description();
            } catch (const std::exception& error) {
                ADD_FAILURE() << "the check as \"nobody\" threw: " << error.what();
            }
        }
        const int status = failedChecks() == before ? 0 : 1;
        std::fflush(nullptr);
        _exit(status); // no destructor of the copied process may run: they belong to the parent
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        ADD_FAILURE() << "the check as \"nobody\" was lost";
    else if (WIFSIGNALED(status))
        ADD_FAILURE() << "the check as \"nobody\" was ended by signal " << WTERMSIG(status);
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "the check as \"nobody\" failed; its failures are shown above";
}

} // namespace testing_support
