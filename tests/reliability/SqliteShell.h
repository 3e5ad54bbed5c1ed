// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <sys/types.h>

namespace reliability {

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

} // namespace reliability
