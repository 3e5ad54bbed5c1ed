// SPDX-License-Identifier: MIT
#include "cli/CommandLine.h"

#include "cli/Command.h"
#include "cli/TerminalText.h"
#include "store/Error.h"
#include "store/FieldRule.h"
#include "store/ServersFields.h"

#include <algorithm>

namespace cli {

namespace {

const char* const exitStatusHelp = R"(
Exit status:
  0  done
  1  the command line is wrong: unknown command or option, a missing or extra argument
  2  the CSV text was refused (header, malformed CSV or refused records); nothing was imported
  3  a file could not be made, opened, read or written: it exists already (init, demo, backup) or
     appeared while backup made its copy, is not a registry, is in use by another program, the
     disk failed...
  4  check found problems in the registry; each is listed above the summary. repair found what
     it cannot put right, and changed nothing
  5  import: the accounts are in the registry, but the disk reported a failure as they were being
     made permanent, so they may not survive a power cut; check the disk
)";

// The size of the account field `name`, as its definition gives it.
std::string sizeOf(const std::string& name) {
    for (const dao::Field& field : mdlDatabase::ServersFields())
        if (field.Name() == name)
            return std::to_string(field.Size());
    return {};
}

// The CSV format, with the field rules as the fields' definitions give them. Paragraphs are apart
// and each row of the table is a tag, two spaces or more and its text, so that help2man makes the
// manual page keep every row a line of its own.
std::string csvHelp() {
    return R"(
CSV format (import reads it, export writes it):
  RFC 4180: fields separated by commas; records end with CR LF (import also takes LF alone); a
  field holding a comma, a quote or a line break is enclosed in quotes, with each quote inside
  doubled (""). Spaces belong to the field. Text is UTF-8; line breaks inside a field are kept.
  The first record is the header naming the columns: User is required; Password, Name,
  Description, UpdateURL, Official, Date and Time are optional, in any order, and compare without
  regard to case. Another column is refused. A column left out is null in every new account.

  null:                    an empty, unquoted field
  empty text:              "" (two quotes)
  User, Password:          text of 1 to )" +
           sizeOf("User") + " characters\n  Name:                    up to " + sizeOf("Name") +
           " characters\n  Description, UpdateURL:  up to " + sizeOf("Description") + R"( characters
  Official:                1 or 0 (import also takes true or false)
  Date, Time:              whole numbers from 0 to )" +
           std::to_string(dao::FieldRule::byteMaximum) + R"(

  export writes every account, all eight columns in this order, in "User" order; its output
  imports into a new registry as the very same rows (with --allow-duplicate-users when user
  names are shared; an account without a single value is an empty record, and skipped).
)";
}

// QCommandLineParser names the program as it was started; help names it as people type it. Its
// usage line leaves options out: `options` names them.
QString helpOf(const QCommandLineParser& parser, const QString& options = {}) {
    QString text = parser.helpText();
    const QString usage = QStringLiteral("Usage: ");
    if (text.startsWith(usage)) {
        const qsizetype end = text.indexOf(QLatin1Char(' '), usage.size());
        if (end > 0)
            text.replace(usage.size(), end - usage.size(), QLatin1String(programName));
        if (!options.isEmpty()) {
            const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
            if (lineEnd > 0)
                text.insert(lineEnd, QLatin1Char(' ') + options);
        }
    }
    return text;
}

// Every option of a command, as its usage line names them: "--accounts N [--seed S] [--with-duplicates]",
// those it cannot do without first and bare.
QString optionUsage(const Command& command) {
    QStringList required;
    QStringList optional;
    for (const CommandOption& option : command.options) {
        QString text = QStringLiteral("--") + option.option.names().first();
        if (!option.option.valueName().isEmpty())
            text += QLatin1Char(' ') + option.option.valueName();
        if (option.required)
            required << text;
        else
            optional << QLatin1Char('[') + text + QLatin1Char(']');
    }
    return (required + optional).join(QLatin1Char(' '));
}

// "a FILE", "FILE and DEST": the arguments a command cannot do without.
QString requiredArguments(const Command& command) {
    QStringList names;
    for (const CommandArgument& argument : command.arguments)
        if (!argument.optional)
            names << argument.name;
    if (names.size() == 1)
        return QStringLiteral("a ") + names.first();
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// "init, import, ... or backup."
QString commandNames() {
    QStringList names;
    for (const Command& command : commands())
        names << command.name;
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last + QLatin1Char('.');
}

// Each command with its usage and summary, the summaries in one column.
std::string commandList() {
    qsizetype width = 0;
    for (const Command& command : commands())
        width = std::max(width, command.name.size() + 1 + command.usage.size());
    QString list = QStringLiteral("\nCommands:\n");
    for (const Command& command : commands())
        list += QStringLiteral("  ") + (command.name + QLatin1Char(' ') + command.usage).leftJustified(width + 2) +
                command.summary + QLatin1Char('\n');
    return list.toStdString();
}

} // namespace

CommandLine::CommandLine(std::istream& input, std::ostream& output, std::ostream& error, bool progressOnError)
    : m_input(input), m_output(output), m_error(error), m_progress(progressOnError) {}

int CommandLine::usageError(const QString& command, const QString& message) {
    const QString program = QLatin1String(programName);
    const QString help = command.isEmpty() ? program + " --help" : program + " " + command + " --help";
    m_error << programName << ": " << message.toStdString() << "\nTry '" << help.toStdString()
            << "' for more information.\n";
    return UsageError;
}

// The one place where a failure of a command becomes its message and exit status. The store's
// errors carry their number; any other failure speaks for itself, after the file it concerns.
int CommandLine::failure(const Command& command, const Invocation& invocation, const std::exception& error) {
    std::string text;
    if (const auto* storeError = dynamic_cast<const dao::Error*>(&error)) {
        text = storeError->description() + " (error " + std::to_string(storeError->number()) + ")";
        if (storeError->code() == dao::ErrorNumber::WorkLimitExceeded)
            text += command.timeLimitNote;
    } else {
        text = (invocation.failureSubject.empty() ? std::string() : invocation.failureSubject + ": ") + error.what();
    }
    // Bytes of the file that are not UTF-8 come out as U+FFFD, control characters as escapes.
    m_error << programName << ": " << messageLine(text + invocation.failureNote) << '\n';
    return FileFailure;
}

int CommandLine::run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Makes, fills and reads Vantrel registry files: SQLite files whose table \"Servers\" "
                       "holds one row per server account."));
    parser.addPositionalArgument(QStringLiteral("command"), commandNames(), QStringLiteral("COMMAND [ARGUMENTS...]"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Everything from the command on belongs to the command's own parser.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return usageError({}, parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        m_output << helpOf(parser).toStdString() << commandList() << "Run '" << programName
                 << " COMMAND --help' for the details of a command.\n"
                 << csvHelp() << exitStatusHelp;
        return Success;
    }
    if (parser.isSet(version)) {
        m_output << programName << ' ' << VANTREL_VERSION << '\n';
        return Success;
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError({}, QStringLiteral("no command given."));
    const auto command = std::find_if(commands().begin(), commands().end(),
                                      [&](const Command& known) { return known.name == rest.first(); });
    if (command == commands().end())
        return usageError({}, QStringLiteral("unknown command '%1'.").arg(rest.first()));
    return runCommand(*command, QStringList{arguments.value(0, QLatin1String(programName))} + rest);
}

// Reads the command's arguments against its entry, then runs its handler.
int CommandLine::runCommand(const Command& command, const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(command.description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addPositionalArgument(command.name, QStringLiteral("The command."), command.name);
    parser.addHelpOption();
    for (const CommandArgument& argument : command.arguments)
        parser.addPositionalArgument(argument.name, argument.description,
                                     argument.optional ? QLatin1Char('[') + argument.name + QLatin1Char(']')
                                                       : QString());
    for (const CommandOption& option : command.options)
        parser.addOption(option.option);

    const auto usage = [&](const QString& message) { return usageError(command.name, message); };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        m_output << helpOf(parser, optionUsage(command)).toStdString() << (command.describesCsv ? csvHelp() : "")
                 << exitStatusHelp;
        return Success;
    }
    const QStringList given = parser.positionalArguments().mid(1);
    const auto least = std::count_if(command.arguments.begin(), command.arguments.end(),
                                     [](const CommandArgument& argument) { return !argument.optional; });
    const auto most = static_cast<qsizetype>(command.arguments.size());
    if (given.size() < least)
        return usage(QStringLiteral("%1 needs %2.").arg(command.name, requiredArguments(command)));
    if (given.size() > most)
        return usage(QStringLiteral("too many arguments for %1: '%2'.").arg(command.name, given.value(most)));
    for (const CommandOption& option : command.options)
        if (option.required && !parser.isSet(option.option))
            return usage(QStringLiteral("%1 needs --%2 %3.")
                             .arg(command.name, option.option.names().first(), option.option.valueName()));
    for (const CommandOption& option : command.options) {
        bool whole = true;
        if (option.wholeNumber)
            parser.value(option.option).toULongLong(&whole);
        if (!whole)
            return usage(QStringLiteral("--%1 takes a whole number, not '%2'.")
                             .arg(option.option.names().first(), parser.value(option.option)));
    }

    Invocation invocation{parser, given, m_input, m_output, m_error, m_progress, {}, {}};
    try {
        return command.handler(invocation);
    } catch (const std::exception& error) {
        return failure(command, invocation, error);
    }
}

} // namespace cli
