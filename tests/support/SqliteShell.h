// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <sys/types.h>

namespace testing_support {

// Another program on the registry: Debian's sqlite3 command-line shell in a process of its own,
// fed SQL through a pipe. It stops at the first failure (-bail), so a statement that fails
// shows as a nonzero exit status from finish(). A transaction sent in two parts holds its locks
// in between, for as long as the sender waits.
class SqliteShell {
public:
    // Starts the shell on `database`; its errors go to `log`.
    SqliteShell(const std::string& database, const std::string& log);
    SqliteShell(const SqliteShell&) = delete;
    SqliteShell& operator=(const SqliteShell&) = delete;
    ~SqliteShell();

    // Sends SQL (and shell commands) as they are; the shell runs each complete statement on arrival.
    void send(const std::string& sql);

    // Sends SQL and waits until the shell has run it. False when the shell has ended.
    bool run(const std::string& sql);

    // Ends the input and waits for the shell; its exit status, or -1 when it did not exit normally.
    int finish();

private:
    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    std::string m_pending; // what the shell printed beyond the last mark
};

// What the shell did with one script: its exit status (0: every statement ran) and its error output.
struct ShellRun {
    int status = -1;
    std::string errors;
};

// Runs `sql` in the shell on `database`, as another program making or changing the file would,
// and waits for it to end.
ShellRun runSqlite(const std::string& database, const std::string& sql);

} // namespace testing_support
