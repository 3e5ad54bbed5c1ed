// SPDX-License-Identifier: MIT
#include "cli/CommandLine.h"

#include "cli/Backup.h"
#include "cli/Check.h"
#include "cli/Create.h"
#include "cli/Export.h"
#include "cli/FileError.h"
#include "cli/Import.h"
#include "cli/Progress.h"
#include "store/Error.h"
#include "store/FieldRule.h"
#include "store/ServersFields.h"

#include <QCommandLineParser>
#include <QFile>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace cli {

namespace {

const QString program = QStringLiteral("vantrel-registry");

const char* const exitStatusHelp = R"(
Exit status:
  0  done
  1  the command line is wrong: unknown command or option, a missing or extra argument
  2  the CSV text was refused (header, malformed CSV or refused records); nothing was imported
  3  a file could not be made, opened, read or written: it exists already (init, demo, backup) or
     appeared while backup made its copy, is not a registry, is in use by another program, the
     disk failed...
  4  check found problems in the registry; each is listed above the summary
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

// The CSV format, with the field rules as the fields' definitions give them.
std::string csvHelp() {
    return R"(
CSV format (import reads it, export writes it):
  RFC 4180: fields separated by commas; records end with CR LF (import also takes LF alone); a
  field holding a comma, a quote or a line break is enclosed in quotes, with each quote inside
  doubled (""). Spaces belong to the field. Text is UTF-8; line breaks inside a field are kept.
  The first record is the header naming the columns: User is required; Password, Name,
  Description, UpdateURL, Official, Date and Time are optional, in any order, and compare without
  regard to case. Another column is refused. A column left out is null in every new account.
  null:        an empty, unquoted field          empty text:  "" (two quotes)
  User, Password:  text of 1 to )" +
           sizeOf("User") + " characters    Name: up to " + sizeOf("Name") +
           " characters\n  Description, UpdateURL: up to " + sizeOf("Description") + R"( characters
  Official:    1 or 0 (import also takes true or false)
  Date, Time:  whole numbers from 0 to )" +
           std::to_string(dao::FieldRule::byteMaximum) + R"(
  export writes every account, all eight columns in this order, in "User" order; its output
  imports into a new registry as the very same rows (with --allow-duplicate-users when user
  names are shared; an account without a single value is an empty record, and skipped).
)";
}

// QCommandLineParser names the program as it was started; help names it as people type it. Its
// usage line leaves options out: `required` names those a command cannot do without.
QString helpOf(const QCommandLineParser& parser, const QString& required = {}) {
    QString text = parser.helpText();
    const QString usage = QStringLiteral("Usage: ");
    if (text.startsWith(usage)) {
        const qsizetype end = text.indexOf(QLatin1Char(' '), usage.size());
        if (end > 0)
            text.replace(usage.size(), end - usage.size(), program);
        if (!required.isEmpty()) {
            const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
            if (lineEnd > 0)
                text.insert(lineEnd, QLatin1Char(' ') + required);
        }
    }
    return text;
}

std::string count(std::size_t number, const std::string& thing) {
    return std::to_string(number) + " " + thing + (number == 1 ? "" : "s");
}

// The size of a regular file, for progress by bytes read; 0 when unknown.
std::size_t fileSize(const std::string& path) {
    std::error_code failure;
    const auto size = std::filesystem::file_size(path, failure);
    return failure ? 0 : static_cast<std::size_t>(size);
}

std::string local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// A parser for one command: its name shows in the usage line, then its arguments.
void describe(QCommandLineParser& parser, const QString& command, const QString& description) {
    parser.setApplicationDescription(description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addPositionalArgument(command, QStringLiteral("The command."), command);
    parser.addHelpOption();
}

} // namespace

CommandLine::CommandLine(std::istream& input, std::ostream& output, std::ostream& error, bool progressOnError)
    : m_input(input), m_output(output), m_error(error), m_progress(progressOnError) {}

int CommandLine::usageError(const QString& command, const QString& message) {
    const QString help = command.isEmpty() ? program + " --help" : program + " " + command + " --help";
    m_error << program.toStdString() << ": " << message.toStdString() << "\nTry '" << help.toStdString()
            << "' for more information.\n";
    return UsageError;
}

int CommandLine::failure(const QString& message) {
    m_error << program.toStdString() << ": " << message.toStdString() << '\n';
    return FileFailure;
}

// The store's errors carry their number; any other failure speaks for itself.
int CommandLine::failure(const std::exception& error, const std::string& more) {
    if (const auto* storeError = dynamic_cast<const dao::Error*>(&error))
        return failure(QString::fromStdString(storeError->description() + " (error " +
                                              std::to_string(storeError->number()) + ")" + more));
    return failure(QString::fromStdString(error.what() + more));
}

int CommandLine::run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Makes, fills and reads Vantrel registry files: SQLite files whose table \"Servers\" "
                       "holds one row per server account."));
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("init, import, export, list, demo, check or backup."),
                                 QStringLiteral("COMMAND [ARGUMENTS...]"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Everything from the command on belongs to the command's own parser.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return usageError({}, parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        m_output << helpOf(parser).toStdString()
                 << "\nCommands:\n"
                    "  init FILE                          make a new, empty registry\n"
                    "  import FILE [CSV]                  add the accounts of a CSV file, or of standard input\n"
                    "  export FILE                        write every account as CSV to standard output\n"
                    "  list FILE                          write the user names, one a line\n"
                    "  demo FILE --accounts N [--seed S]  make a new registry of N made-up accounts\n"
                    "  check FILE                         report whatever would stop Vantrel or mislead an operator\n"
                    "  backup FILE DEST                   copy the registry safely while other programs use it\n"
                    "Run '"
                 << program.toStdString() << " COMMAND --help' for the details of a command.\n"
                 << csvHelp() << exitStatusHelp;
        return Success;
    }
    if (parser.isSet(version)) {
        m_output << program.toStdString() << ' ' << VANTREL_VERSION << '\n';
        return Success;
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError({}, QStringLiteral("no command given."));
    const QString command = rest.first();
    const QStringList commandArguments = QStringList{arguments.value(0, program)} + rest;
    if (command == QLatin1String("init"))
        return init(commandArguments);
    if (command == QLatin1String("import"))
        return importCsv(commandArguments);
    if (command == QLatin1String("export"))
        return exportCsv(commandArguments);
    if (command == QLatin1String("list"))
        return list(commandArguments);
    if (command == QLatin1String("demo"))
        return demo(commandArguments);
    if (command == QLatin1String("check"))
        return check(commandArguments);
    if (command == QLatin1String("backup"))
        return backup(commandArguments);
    return usageError({}, QStringLiteral("unknown command '%1'.").arg(command));
}

// Parses a command's arguments. Returns -1 to go on with `files` filled, else the exit status.
static int parseCommand(QCommandLineParser& parser, const QStringList& arguments, std::ostream& output,
                        const std::function<int(const QString&)>& usageError, int least, int most, QStringList& files,
                        const std::string& extraHelp = {}, const QString& required = {}) {
    const QString command = arguments.value(1);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        output << helpOf(parser, required).toStdString() << extraHelp << exitStatusHelp;
        return CommandLine::Success;
    }
    files = parser.positionalArguments().mid(1);
    if (files.size() < least)
        return usageError(QStringLiteral("%1 needs %2.").arg(command, least == 1 ? "a FILE" : "FILE and DEST"));
    if (files.size() > most)
        return usageError(QStringLiteral("too many arguments for %1: '%2'.").arg(command, files.value(most)));
    return -1;
}

int CommandLine::init(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser, QStringLiteral("init"),
             QStringLiteral("Makes FILE a new registry holding the empty table \"Servers\", made exactly as "
                            "Vantrel makes it. An existing FILE is never replaced. Only its owner may read or "
                            "write the new file (mode 600)."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The new registry file."));
    QStringList files;
    const auto usage = [&](const QString& message) { return usageError(QStringLiteral("init"), message); };
    if (const int status = parseCommand(parser, arguments, m_output, usage, 1, 1, files); status >= 0)
        return status;
    try {
        createRegistry(local(files[0]));
    } catch (const std::exception& error) {
        return failure(error);
    }
    return Success;
}

int CommandLine::importCsv(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser, QStringLiteral("import"),
             QStringLiteral("Adds the accounts of a CSV file to the registry FILE, all of them in one "
                            "transaction or none: when any record is refused, the refused records are reported "
                            "(the first 100) with their line numbers and reasons, and FILE is left unchanged. A "
                            "record without a user name is refused, and so is a user name that FILE or an earlier "
                            "record already has. Records whose fields are all empty, as spreadsheets write them "
                            "below their data, are skipped and counted. The whole CSV text is read and checked "
                            "before FILE is locked for writing; a field over 1000 bytes or a record over 1000000 "
                            "bytes stops the reading at once."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The registry file."));
    parser.addPositionalArgument(QStringLiteral("CSV"),
                                 QStringLiteral("The CSV file; standard input when left out or '-'."),
                                 QStringLiteral("[CSV]"));
    parser.addOption(QCommandLineOption(QStringLiteral("allow-duplicate-users"),
                                        QStringLiteral("Lets in a user name that the registry or an earlier record "
                                                       "already has. Vantrel's editor only opens the first account "
                                                       "of a name.")));
    QStringList files;
    const auto usage = [&](const QString& message) { return usageError(QStringLiteral("import"), message); };
    if (const int status = parseCommand(parser, arguments, m_output, usage, 1, 2, files, csvHelp()); status >= 0)
        return status;

    const std::string path = local(files[0]);
    const bool fromInput = files.size() < 2 || files[1] == QLatin1String("-");
    const std::string csvName = fromInput ? "<stdin>" : local(files[1]);
    std::ifstream csvFile;
    if (!fromInput) {
        csvFile.open(csvName, std::ios::binary);
        if (!csvFile)
            return failure(QString::fromStdString(dao::inQuotes(csvName) + " cannot be read."));
    }
    ImportOptions options;
    options.allowDuplicateUsers = parser.isSet(QStringLiteral("allow-duplicate-users"));
    try {
        Progress progress(m_error, m_progress, "Reading", fromInput ? 0 : fileSize(csvName), "records");
        progress.measureByPosition();
        const ImportResult result = cli::importCsv(path, fromInput ? m_input : csvFile, progress, options);
        progress.finish();
        const std::string skipped =
            result.emptyRecords == 0 ? std::string() : "; " + count(result.emptyRecords, "empty record") + " skipped";
        if (result.problems.empty()) {
            m_error << count(result.accounts, "account") << " imported into " << dao::inQuotes(path) << skipped
                    << ".\n";
            if (!result.unconfirmed.empty()) {
                m_error << program.toStdString() << ": " << result.unconfirmed << '\n';
                return Unconfirmed;
            }
            return Success;
        }
        for (const ImportProblem& problem : result.problems)
            m_error << csvName << ':' << problem.line << ": " << problem.reason << '\n';
        if (result.moreProblems > 0)
            m_error << csvName << ": and " << result.moreProblems << " more\n";
        for (const std::string& hint : result.hints)
            m_error << csvName << ": " << hint << '\n';
        m_error << program.toStdString() << ": nothing was imported into " << dao::inQuotes(path) << ": "
                << count(result.problemCount(), "problem") << " in " << csvName << skipped << ".\n";
        return DataRefused;
    } catch (const dao::Error& error) {
        return failure(error, " Nothing was imported.");
    } catch (const std::exception& error) {
        return failure(QString::fromStdString(csvName + ": " + error.what() + " Nothing was imported."));
    }
}

int CommandLine::exportCsv(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser, QStringLiteral("export"),
             QStringLiteral("Writes every account of the registry FILE, all eight fields, as CSV to standard "
                            "output, in \"User\" order."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The registry file."));
    QStringList files;
    const auto usage = [&](const QString& message) { return usageError(QStringLiteral("export"), message); };
    if (const int status = parseCommand(parser, arguments, m_output, usage, 1, 1, files, csvHelp()); status >= 0)
        return status;
    try {
        cli::exportCsv(local(files[0]), m_output);
    } catch (const std::exception& error) {
        return failure(error);
    }
    return Success;
}

int CommandLine::list(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser, QStringLiteral("list"),
             QStringLiteral("Writes the user name of every account of the registry FILE to standard output, one "
                            "a line, in \"User\" order (by code point: upper case before lower case)."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The registry file."));
    QStringList files;
    const auto usage = [&](const QString& message) { return usageError(QStringLiteral("list"), message); };
    if (const int status = parseCommand(parser, arguments, m_output, usage, 1, 1, files); status >= 0)
        return status;
    try {
        listUsers(local(files[0]), m_output);
    } catch (const std::exception& error) {
        return failure(error);
    }
    return Success;
}

int CommandLine::demo(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser, QStringLiteral("demo"),
             QStringLiteral("Makes FILE a new registry of made-up but realistic accounts for trying Vantrel: "
                            "names in several scripts, descriptions with line breaks, and a few user names "
                            "shared by two accounts. The same seed always gives the same accounts. An existing "
                            "FILE is never replaced. Only its owner may read or write the new file (mode 600)."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The new registry file."));
    const QCommandLineOption accountsOption(QStringLiteral("accounts"), QStringLiteral("How many accounts to make."),
                                            QStringLiteral("N"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("The seed of the accounts (default 1)."),
                                        QStringLiteral("S"), QStringLiteral("1"));
    parser.addOption(accountsOption);
    parser.addOption(seedOption);
    QStringList files;
    const auto usage = [&](const QString& message) { return usageError(QStringLiteral("demo"), message); };
    if (const int status =
            parseCommand(parser, arguments, m_output, usage, 1, 1, files, "", QStringLiteral("--accounts N"));
        status >= 0)
        return status;
    if (!parser.isSet(accountsOption))
        return usage(QStringLiteral("demo needs --accounts N."));
    bool accountsOk = false;
    bool seedOk = false;
    const qulonglong accounts = parser.value(accountsOption).toULongLong(&accountsOk);
    const qulonglong seed = parser.value(seedOption).toULongLong(&seedOk);
    if (!accountsOk)
        return usage(QStringLiteral("--accounts takes a whole number, not '%1'.").arg(parser.value(accountsOption)));
    if (!seedOk)
        return usage(QStringLiteral("--seed takes a whole number, not '%1'.").arg(parser.value(seedOption)));
    try {
        Progress progress(m_error, m_progress, "Making accounts", accounts);
        createDemo(local(files[0]), accounts, seed, progress);
        progress.finish();
        m_error << count(accounts, "account") << " made in " << dao::inQuotes(local(files[0])) << ".\n";
    } catch (const std::exception& error) {
        return failure(error);
    }
    return Success;
}

int CommandLine::check(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser, QStringLiteral("check"),
             QStringLiteral("Reads the registry FILE without changing it and reports whatever would stop Vantrel "
                            "or mislead an operator: a write a crash left unfinished, damage (SQLite's integrity "
                            "check), the table \"Servers\" or its index \"User\" missing or not as Vantrel needs "
                            "them, values breaking the field rules, accounts without a user name, and user names "
                            "shared by several accounts (the editor only opens the first). Each problem is listed "
                            "(at most 100 of a kind) on standard output, then a summary with the counts. Exit "
                            "status 0: nothing found; 4: problems found. Each step of the check is stopped "
                            "after a minute, and ten seconds more for every 100 MiB of the file, so that a "
                            "file that makes it endless cannot hold the registry."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The registry file."));
    const QCommandLineOption noTimeLimit(
        QStringLiteral("no-time-limit"),
        QStringLiteral("Lets every step of the check run as long as it takes, for a file known to be sound."));
    parser.addOption(noTimeLimit);
    QStringList files;
    const auto usage = [&](const QString& message) { return usageError(QStringLiteral("check"), message); };
    if (const int status = parseCommand(parser, arguments, m_output, usage, 1, 1, files); status >= 0)
        return status;
    const std::string path = local(files[0]);
    CheckReport report;
    try {
        report = checkRegistry(path, !parser.isSet(noTimeLimit));
    } catch (const dao::Error& error) {
        if (error.code() == dao::ErrorNumber::WorkLimitExceeded)
            return failure(error, " To check a large file that is known to be sound, give --no-time-limit.");
        return failure(error);
    } catch (const std::exception& error) {
        return failure(error);
    }
    for (const std::string& finding : report.findings)
        m_output << path << ": " << finding << '\n';
    m_output << dao::inQuotes(path) << ": " << count(report.accounts, "account") << " checked.\n"
             << "  unfinished writes left by a crash:      " << report.journals << '\n'
             << "  damage found by SQLite:                 " << report.damage << '\n'
             << "  table and index not as Vantrel needs:   " << report.tableProblems << '\n'
             << "  rows breaking the field rules:          " << report.rowsBreakingRules << '\n'
             << "  accounts without a user name:           " << report.nullUsers << '\n'
             << "  user names shared by several accounts:  " << report.sharedNames << " ("
             << count(report.sharedNameAccounts, "account") << ")\n"
             << (report.clean() ? "No problems found.\n" : "Problems found; see above.\n");
    m_output.flush();
    return report.clean() ? Success : ProblemsFound;
}

int CommandLine::backup(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser, QStringLiteral("backup"),
             QStringLiteral("Copies the registry FILE to the new file DEST as it is at one moment, through "
                            "SQLite's online backup, while other programs may go on using FILE (their writes wait "
                            "for the copy), then checks the copy with SQLite's integrity check. The copy has "
                            "FILE's permission bits (and, run as root, its owner and group). It is made under a "
                            "private name beside DEST and takes the name DEST only if DEST still does not exist: "
                            "an existing DEST, or one that appears meanwhile, is never replaced, and nothing "
                            "beside it is touched. A copy that fails on the way is removed."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The registry file."));
    parser.addPositionalArgument(QStringLiteral("DEST"), QStringLiteral("The new copy."));
    QStringList files;
    const auto usage = [&](const QString& message) { return usageError(QStringLiteral("backup"), message); };
    if (const int status = parseCommand(parser, arguments, m_output, usage, 2, 2, files); status >= 0)
        return status;
    try {
        cli::backup(local(files[0]), local(files[1]));
    } catch (const std::exception& error) {
        return failure(error);
    }
    m_error << dao::inQuotes(local(files[0])) << " copied to " << dao::inQuotes(local(files[1]))
            << "; the copy passed SQLite's integrity check.\n";
    return Success;
}

} // namespace cli
