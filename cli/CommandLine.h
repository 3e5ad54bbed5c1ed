// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

#include <exception>
#include <istream>
#include <ostream>

namespace cli {

struct Command;
struct Invocation;

// The vantrel-registry command line: reads the arguments of one run against the table of
// commands (see Command.h), carries the command out and gives the exit status. Streams are
// passed in, so a whole run can be made in-process.
class CommandLine {
public:
    enum ExitStatus : int {
        Success = 0,
        UsageError = 1,    // unknown command or option, missing or extra argument, bad number
        DataRefused = 2,   // the CSV text was refused; nothing was imported
        FileFailure = 3,   // a file could not be made, opened, read or written
        ProblemsFound = 4, // check found something that would stop Vantrel or mislead an operator
        Unconfirmed = 5,   // done and in the file, but the disk failed as it was being made permanent
    };

    // progressOnError: draw progress on `error` (only when it is a terminal).
    CommandLine(std::istream& input, std::ostream& output, std::ostream& error, bool progressOnError);

    // arguments[0] is the program as started; the command follows.
    int run(const QStringList& arguments);

private:
    int runCommand(const Command& command, const QStringList& arguments);
    int usageError(const QString& command, const QString& message);
    int failure(const Command& command, const Invocation& invocation, const std::exception& error);

    std::istream& m_input;
    std::ostream& m_output;
    std::ostream& m_error;
    bool m_progress;
};

} // namespace cli
