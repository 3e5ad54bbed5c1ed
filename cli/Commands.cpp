// SPDX-License-Identifier: MIT
#include "cli/Command.h"

#include "cli/Backup.h"
#include "cli/Check.h"
#include "cli/CommandLine.h"
#include "cli/Create.h"
#include "cli/Export.h"
#include "cli/FileError.h"
#include "cli/Import.h"
#include "cli/Progress.h"
#include "cli/Repair.h"
#include "cli/TerminalText.h"
#include "store/Error.h"

#include <filesystem>
#include <fstream>

namespace cli {

namespace {

std::string count(std::size_t number, const std::string& thing) {
    return std::to_string(number) + " " + thing + (number == 1 ? "" : "s");
}

// The size of a regular file, for progress by bytes read; 0 when unknown.
std::size_t fileSize(const std::string& path) {
    std::error_code failure;
    const auto size = std::filesystem::file_size(path, failure);
    return failure ? 0 : static_cast<std::size_t>(size);
}

// Writes a message line that may quote a file's text, made safe for a terminal (messageLine).
void tell(std::ostream& stream, const std::string& line) {
    stream << messageLine(line) << '\n';
}

int runInit(Invocation& run) {
    createRegistry(run.file(0));
    return CommandLine::Success;
}

int runImport(Invocation& run) {
    const std::string path = run.file(0);
    const bool fromInput = run.arguments.size() < 2 || run.arguments[1] == QLatin1String("-");
    const std::string csvName = fromInput ? "<stdin>" : run.file(1);
    std::ifstream csvFile;
    if (!fromInput) {
        csvFile.open(csvName, std::ios::binary);
        if (!csvFile)
            throw FileError(dao::inQuotes(csvName) + " cannot be read.");
    }
    run.failureSubject = csvName;
    run.failureNote = " Nothing was imported.";
    ImportOptions options;
    options.allowDuplicateUsers = run.isSet(QStringLiteral("allow-duplicate-users"));
    options.allowLookAlikeUsers = run.isSet(QStringLiteral("allow-lookalike-users"));
    if (fromInput && isTerminal(run.input))
        run.error << programName
                  << ": reading CSV text from standard input; end it with Ctrl-D at the start of a "
                     "line (Ctrl-C stops without importing).\n";
    Progress progress(run.error, run.progress, "Reading", fromInput ? 0 : fileSize(csvName), "records");
    progress.measureByPosition();
    const ImportResult result = importCsv(path, fromInput ? run.input : csvFile, progress, options);
    progress.finish();
    const std::string skipped =
        result.emptyRecords == 0 ? std::string() : "; " + count(result.emptyRecords, "empty record") + " skipped";
    if (result.problems.empty()) {
        tell(run.error, count(result.accounts, "account") + " imported into " + dao::inQuotes(path) + skipped + ".");
        if (!result.unconfirmed.empty()) {
            tell(run.error, programName + (": " + result.unconfirmed));
            return CommandLine::Unconfirmed;
        }
        return CommandLine::Success;
    }
    for (const ImportProblem& problem : result.problems)
        tell(run.error, csvName + ':' + std::to_string(problem.line) + ": " + problem.reason);
    if (result.moreProblems > 0)
        tell(run.error, csvName + ": and " + std::to_string(result.moreProblems) + " more");
    for (const std::string& hint : result.hints)
        tell(run.error, csvName + ": " + hint);
    tell(run.error, programName + (": nothing was imported into " + dao::inQuotes(path) + ": " +
                                   count(result.problemCount(), "problem") + " in " + csvName + skipped + "."));
    return CommandLine::DataRefused;
}

int runExport(Invocation& run) {
    Progress progress(run.error, run.progress && !sameTerminal(run.output, run.error), "Exporting");
    exportCsv(run.file(0), run.output, run.isSet(QStringLiteral("bom")), &progress);
    return CommandLine::Success;
}

int runList(Invocation& run) {
    listUsers(run.file(0), run.output,
              run.isSet(QStringLiteral("null")) ? ListFormat::NulTerminated : ListFormat::EscapedLines);
    return CommandLine::Success;
}

int runDemo(Invocation& run) {
    const qulonglong accounts = run.number(QStringLiteral("accounts"));
    Progress progress(run.error, run.progress, "Making accounts", accounts);
    createDemo(run.file(0), accounts, run.number(QStringLiteral("seed")), progress,
               run.isSet(QStringLiteral("with-duplicates")));
    progress.finish();
    tell(run.error, count(accounts, "account") + " made in " + dao::inQuotes(run.file(0)) + ".");
    return CommandLine::Success;
}

int runCheck(Invocation& run) {
    const std::string path = run.file(0);
    // A file that cannot be checked may fail for the very reason that it is on a network file system.
    if (const std::string network = networkFileSystemFinding(path); !network.empty())
        run.failureNote = " Also, " + network;
    Progress progress(run.error, run.progress, "Checking", 0, {});
    const CheckReport report = checkRegistry(path, !run.isSet(QStringLiteral("no-time-limit")), &progress);
    progress.finish();
    for (const std::string& finding : report.findings)
        tell(run.output, path + ": " + finding);
    tell(run.output, dao::inQuotes(path) + ": " + count(report.accounts, "account") + " checked.");
    run.output << "  unfinished writes left by a crash:      " << report.journals << '\n'
               << "  damage found by SQLite:                 " << report.damage << '\n'
               << "  table and index not as Vantrel needs:   " << report.tableProblems << '\n'
               << "  rows breaking the field rules:          " << report.rowsBreakingRules << '\n'
               << "  accounts without a user name:           " << report.nullUsers << '\n'
               << "  user names shared by several accounts:  " << report.sharedNames << " ("
               << count(report.sharedNameAccounts, "account") << ")\n"
               << "  groups of user names that look alike:   " << report.lookAlikeGroups << " ("
               << count(report.lookAlikeNames, "name") << ")\n"
               << "  names mixing scripts, not NFC, spaced:  " << report.misleadingNames << '\n'
               << "  on a network file system:               " << report.networkFileSystem << '\n'
               << (report.clean() ? "No problems found.\n" : "Problems found; see above.\n");
    run.output.flush();
    return report.clean() ? CommandLine::Success : CommandLine::ProblemsFound;
}

int runBackup(Invocation& run) {
    Progress progress(run.error, run.progress, "Copying", 0, "pages");
    backup(run.file(0), run.file(1), &progress);
    progress.finish();
    tell(run.error, dao::inQuotes(run.file(0)) + " copied to " + dao::inQuotes(run.file(1)) +
                        "; the copy passed SQLite's integrity check.");
    return CommandLine::Success;
}

int runRepair(Invocation& run) {
    const std::string path = run.file(0);
    Progress progress(run.error, run.progress, "Repairing", 0, {});
    const RepairReport report = repairRegistry(path, &progress);
    progress.finish();
    if (!report.unfixable.empty()) {
        for (const std::string& problem : report.unfixable)
            tell(run.error, path + ": cannot repair: " + problem);
        for (const std::string& problem : report.fixable)
            tell(run.error, path + ": " + problem);
        tell(run.error, programName + (": nothing was repaired in " + dao::inQuotes(path) + ": " +
                                       count(report.unfixable.size(), "problem") +
                                       " that repair cannot put right; the file was left as it is."));
        return CommandLine::ProblemsFound;
    }
    if (report.fixed.empty()) {
        tell(run.error, dao::inQuotes(path) + ": nothing to repair.");
        return CommandLine::Success;
    }
    tell(run.error, dao::inQuotes(path) + " copied to " + dao::inQuotes(report.backup) + " before the repair.");
    for (const std::string& fix : report.fixed)
        tell(run.error, path + ": " + fix);
    tell(run.error, dao::inQuotes(path) + " repaired; Vantrel opens it.");
    return CommandLine::Success;
}

const CommandArgument registryFile{QStringLiteral("FILE"), QStringLiteral("The registry file.")};
const CommandArgument newRegistryFile{QStringLiteral("FILE"), QStringLiteral("The new registry file.")};

} // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> table{
        {.name = QStringLiteral("init"),
         .usage = QStringLiteral("FILE"),
         .summary = QStringLiteral("make a new, empty registry"),
         .description = QStringLiteral(
             "Makes FILE a new registry holding the empty table \"Servers\", made exactly as Vantrel makes "
             "it. An existing FILE is never replaced. Only its owner may read or write the new file "
             "(mode 600)."),
         .arguments = {newRegistryFile},
         .handler = runInit},
        {.name = QStringLiteral("import"),
         .usage = QStringLiteral("FILE [CSV]"),
         .summary = QStringLiteral("add the accounts of a CSV file, or of standard input"),
         .description =
             QStringLiteral("Adds the accounts of a CSV file to the registry FILE, all of them in one transaction or "
                            "none: when any record is refused, the refused records are reported (the first 100) with "
                            "their line numbers and reasons, and FILE is left unchanged. A record without a user name "
                            "is refused, and so is a user name that FILE or an earlier record already has, one that "
                            "looks like a name of FILE or of an earlier record, and one that begins or ends with a "
                            "space. Records "
                            "whose fields are all empty, as spreadsheets write them below their data, are skipped and "
                            "counted. The whole CSV text is read and checked before FILE is locked for writing; a "
                            "field over 1000 bytes or a record over 1000000 bytes stops the reading at once. When "
                            "the CSV text comes from standard input and that is a terminal, a line on standard "
                            "error says so before the reading starts: end the text with Ctrl-D at the start of a "
                            "line."),
         .arguments = {registryFile,
                       {.name = QStringLiteral("CSV"),
                        .description = QStringLiteral("The CSV file; standard input when left out or '-'."),
                        .optional = true}},
         .options = {{QCommandLineOption(
                         QStringLiteral("allow-duplicate-users"),
                         QStringLiteral("Lets in a user name that the registry or an earlier record already "
                                        "has. Vantrel's editor only opens the first account of a name."))},
                     {QCommandLineOption(
                         QStringLiteral("allow-lookalike-users"),
                         QStringLiteral("Lets in a user name that looks like one the registry or an earlier record "
                                        "has, or that begins or ends with a space."))}},
         .describesCsv = true,
         .handler = runImport},
        {.name = QStringLiteral("export"),
         .usage = QStringLiteral("FILE [--bom]"),
         .summary = QStringLiteral("write every account as CSV to standard output"),
         .description = QStringLiteral(
             "Writes every account of the registry FILE, all eight fields, as CSV to standard output, in "
             "\"User\" order. When standard error is a terminal and standard output is not that terminal (but "
             "a file or a pipe), the accounts written so far are shown on standard error as the export goes."),
         .arguments = {registryFile},
         .options = {{QCommandLineOption(
             QStringLiteral("bom"),
             QStringLiteral("Begins the CSV text with a UTF-8 byte-order mark, by which spreadsheets opening the "
                            "file know it is UTF-8. Import skips the mark."))}},
         .describesCsv = true,
         .handler = runExport},
        {.name = QStringLiteral("list"),
         .usage = QStringLiteral("FILE [--null]"),
         .summary = QStringLiteral("write the user names, one a line"),
         .description = QStringLiteral(
             "Writes the user name of every account of the registry FILE to standard output, one a line, "
             "in \"User\" order (by code point: upper case before lower case). So that a name can never make "
             "two lines, a line feed in a name is written as \\n, a carriage return as \\r, a tab as \\t, a "
             "backslash as \\\\, and any other control character (below U+0020, or U+007F) as \\xHH, its two "
             "hexadecimal digits in upper case; every other character is written as it is."),
         .arguments = {registryFile},
         .options = {{QCommandLineOption(
             QStringLiteral("null"),
             QStringLiteral("Writes each name exactly as it is stored, followed by a NUL byte instead of a line "
                            "break, for xargs -0 and other readers of find -print0's output."))}},
         .handler = runList},
        {.name = QStringLiteral("demo"),
         .usage = QStringLiteral("FILE --accounts N [--seed S] [--with-duplicates]"),
         .summary = QStringLiteral("make a new registry of N made-up accounts"),
         .description =
             QStringLiteral("Makes FILE a new registry of made-up but realistic accounts for trying Vantrel: names in "
                            "several scripts and descriptions with line breaks; no two user names are the same or "
                            "look alike, so the new registry checks clean. The same seed always gives the same "
                            "accounts. An existing FILE is never replaced. Only its owner may read or write the new "
                            "file (mode 600)."),
         .arguments = {newRegistryFile},
         .options = {{.option = QCommandLineOption(QStringLiteral("accounts"),
                                                   QStringLiteral("How many accounts to make."), QStringLiteral("N")),
                      .required = true,
                      .wholeNumber = true},
                     {.option = QCommandLineOption(QStringLiteral("seed"),
                                                   QStringLiteral("The seed of the accounts (default 1)."),
                                                   QStringLiteral("S"), QStringLiteral("1")),
                      .wholeNumber = true},
                     {.option = QCommandLineOption(
                          QStringLiteral("with-duplicates"),
                          QStringLiteral("Now and then gives an account the user name of an earlier one (about one in "
                                         "500), and lets names look alike, for trying how Vantrel meets them."))}},
         .handler = runDemo},
        {.name = QStringLiteral("check"),
         .usage = QStringLiteral("FILE"),
         .summary = QStringLiteral("report whatever would stop Vantrel or mislead an operator"),
         .description =
             QStringLiteral("Reads the registry FILE without changing it and reports whatever would stop Vantrel or "
                            "mislead an operator: a write a crash left unfinished, damage (SQLite's integrity check), "
                            "the table \"Servers\" or its index \"User\" missing or not as Vantrel needs them, values "
                            "breaking the field rules, accounts without a user name, user names shared by several "
                            "accounts (the editor only opens the first), groups of user names that look alike (the "
                            "same skeleton of Unicode Technical Standard #39), and user names that mix scripts, are "
                            "not in Unicode normalization form C, or begin or end with a space. Each problem is listed "
                            "(at most 100 of a kind) on standard output, then a summary with the counts. Exit status "
                            "0: nothing found; 4: problems found. Each step of the check is stopped after a minute, "
                            "and ten seconds more for every 100 MiB of the file, so that a file that makes it endless "
                            "cannot hold the registry."),
         .arguments = {registryFile},
         .options = {{QCommandLineOption(
             QStringLiteral("no-time-limit"),
             QStringLiteral("Lets every step of the check run as long as it takes, for a file known "
                            "to be sound."))}},
         .timeLimitNote = " To check a large file that is known to be sound, give --no-time-limit.",
         .handler = runCheck},
        {.name = QStringLiteral("backup"),
         .usage = QStringLiteral("FILE DEST"),
         .summary = QStringLiteral("copy the registry safely while other programs use it"),
         .description =
             QStringLiteral("Copies the registry FILE to the new file DEST as it is at one moment, through SQLite's "
                            "online backup, while other programs may go on using FILE (their writes wait for the "
                            "copy), then checks the copy with SQLite's integrity check. The copy has FILE's permission "
                            "bits (and, run as root, its owner and group). It is made under a private name beside DEST "
                            "and takes the name DEST only if DEST still does not exist: an existing DEST, or one that "
                            "appears meanwhile, is never replaced, and nothing beside it is touched. A copy that fails "
                            "on the way is removed."),
         .arguments = {registryFile, {QStringLiteral("DEST"), QStringLiteral("The new copy.")}},
         .handler = runBackup},
        {.name = QStringLiteral("repair"),
         .usage = QStringLiteral("FILE"),
         .summary = QStringLiteral("make a missing index \"User\", remove misleading statistics"),
         .description = QStringLiteral(
             "Makes a missing index \"User\" of the table \"Servers\" as init makes it, and removes statistics "
             "(rows of sqlite_stat1) that declare that index unordered, and says what it did; nothing else of "
             "the file is run or changed. Before the first change, FILE is copied as by backup to "
             "FILE.before-repair-YYYYMMDD-HHMMSS (the time in UTC), which is never replaced. When anything "
             "else in the file would stop Vantrel or its saves (damage, a missing table or column, a rule, "
             "trigger or index of the file's own), it is reported and nothing is changed: exit status 4. "
             "While another program holds the file's write lock, nothing is changed: exit status 3."),
         .arguments = {registryFile},
         .handler = runRepair},
    };
    return table;
}

} // namespace cli
