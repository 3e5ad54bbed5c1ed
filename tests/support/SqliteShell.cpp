// SPDX-License-Identifier: MIT
#include "tests/support/SqliteShell.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

SqliteShell::SqliteShell(const std::string& database, const std::string& log) {
    // A shell that stopped early must fail the test through its exit status, not kill it.
    std::signal(SIGPIPE, SIG_IGN);
    int pipeEnds[2];
    int outputEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0 || pipe2(outputEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    const int errors = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(pipeEnds[0], STDIN_FILENO);
        dup2(outputEnds[1], STDOUT_FILENO);
        dup2(errors, STDERR_FILENO);
        execlp("sqlite3", "sqlite3", "-bail", "-batch", database.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[0]);
    close(outputEnds[1]);
    close(errors);
    m_input = pipeEnds[1];
    m_output = outputEnds[0];
    if (m_pid < 0)
        throw std::runtime_error("cannot start sqlite3");
    // Every wait for a lock is long: a shell that gave up would end the run with -bail.
    send(".timeout 20000\n");
}

SqliteShell::~SqliteShell() {
    finish();
}

void SqliteShell::send(const std::string& sql) {
    std::size_t written = 0;
    while (m_input >= 0 && written < sql.size()) {
        const ssize_t n = write(m_input, sql.data() + written, sql.size() - written);
        if (n <= 0)
            return; // the shell has ended; finish() tells how
        written += static_cast<std::size_t>(n);
    }
}

bool SqliteShell::run(const std::string& sql) {
    static const std::string mark = "vantrel-shell-mark\n";
    send(sql + "SELECT 'vantrel-shell-mark';\n");
    for (;;) {
        if (const auto found = m_pending.find(mark); found != std::string::npos) {
            m_pending.erase(0, found + mark.size());
            return true;
        }
        char buffer[512];
        const ssize_t n = m_output >= 0 ? read(m_output, buffer, sizeof buffer) : 0;
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

int SqliteShell::finish() {
    if (m_input >= 0) {
        close(m_input);
        m_input = -1;
    }
    if (m_output >= 0) {
        close(m_output);
        m_output = -1;
    }
    if (m_pid <= 0)
        return -1;
    int status = 0;
    const pid_t waited = waitpid(m_pid, &status, 0);
    m_pid = -1;
    return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ShellRun runSqlite(const std::string& database, const std::string& sql) {
    TempFolder logs;
    ShellRun result;
    {
        SqliteShell shell(database, logs.file("shell.log"));
        shell.run(sql);
        result.status = shell.finish();
    }
    result.errors = readBytes(logs.file("shell.log"));
    return result;
}

} // namespace testing_support
