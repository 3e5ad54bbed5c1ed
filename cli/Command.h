// SPDX-License-Identifier: MIT
#pragma once

#include <QCommandLineParser>
#include <QFile>
#include <QStringList>

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// The program as people type it, in help and messages.
inline constexpr char programName[] = "vantrel-registry";

// A positional argument of a command, after the command's name.
struct CommandArgument {
    QString name;
    QString description;
    bool optional = false; // shown in brackets; only the last arguments may be optional
};

struct CommandOption {
    QCommandLineOption option;
    bool required = false;    // the command cannot do without it; its usage line names it
    bool wholeNumber = false; // its value must be a whole number
};

// One run of a command, as its handler sees it: the command line already checked against the
// command's entry, and the streams of the run.
struct Invocation {
    const QCommandLineParser& parser;
    QStringList arguments; // the positional arguments after the command's name
    std::istream& input;
    std::ostream& output;
    std::ostream& error;
    bool progress; // whether progress may be drawn on `error`
    // How a failure the handler throws is told, beyond its own text: the file that a failure
    // outside the store concerns (it then leads the message), and what follows every message.
    std::string failureSubject;
    std::string failureNote;

    // The positional argument `index` as a local file name.
    std::string file(qsizetype index) const { return QFile::encodeName(arguments.value(index)).toStdString(); }
    bool isSet(const QString& option) const { return parser.isSet(option); }
    // The value of a wholeNumber option, which the parser has checked.
    qulonglong number(const QString& option) const { return parser.value(option).toULongLong(); }
};

// A command of vantrel-registry: everything the parser, the help and the run need of it.
struct Command {
    QString name;
    QString usage;       // its arguments and chief options, in the list of commands
    QString summary;     // its line in the list of commands
    QString description; // its own help
    std::vector<CommandArgument> arguments = {};
    std::vector<CommandOption> options = {};
    bool describesCsv = false; // its help ends with the CSV format
    // Added to a store failure that is a statement stopped at its time limit.
    std::string timeLimitNote = {};
    // Carries the command out and reports its outcome; returns the exit status. A failure is thrown,
    // for CommandLine to tell in the one way every failure is told.
    int (*handler)(Invocation&) = nullptr;
};

// Every command, in the order the help lists them.
const std::vector<Command>& commands();

} // namespace cli
