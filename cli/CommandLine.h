// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

#include <exception>
#include <istream>
#include <ostream>
#include <string>

namespace cli {

// The vantrel-registry command line: parses the arguments of one run, carries out the command
// and gives the exit status. Streams are passed in, so a whole run can be made in-process.
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
    int init(const QStringList& arguments);
    int importCsv(const QStringList& arguments);
    int exportCsv(const QStringList& arguments);
    int list(const QStringList& arguments);
    int demo(const QStringList& arguments);
    int check(const QStringList& arguments);
    int backup(const QStringList& arguments);

    int usageError(const QString& command, const QString& message);
    int failure(const QString& message);
    int failure(const std::exception& error, const std::string& more = {});

    std::istream& m_input;
    std::ostream& m_output;
    std::ostream& m_error;
    bool m_progress;
};

} // namespace cli
