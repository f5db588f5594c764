#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <optional>
#include <string>

class Report;

// The options every command takes.
struct GeneralOptions {
    QCommandLineOption help;
    QCommandLineOption version;
    QCommandLineOption verbose;
    QCommandLineOption json;
    QCommandLineOption log;
    QCommandLineOption timeout;
    QCommandLineOption quiet;
    QCommandLineOption directory;
};

// Without a terminal on standard input nobody is there to stop a wait that has no limit of
// its own: it ends after this many seconds, long enough to switch a server on by hand.
inline constexpr int kDefaultTimeoutSeconds = 120;

// Adds them to `parser`: -h/--help, -V/--version, -v/--verbose, -q/--quiet, --json, --log FILE,
// --timeout SECONDS|none and -C DIR.
GeneralOptions AddGeneralOptions(QCommandLineParser& parser);

// Whether the arguments ask for --json, looked at before they are parsed, so that a usage
// error the parser finds ends with a result object too.
bool JsonAsked(const QStringList& arguments);

// --timeout SECONDS: a whole number of seconds from 1; 0 for "none"; when it is not given, 0
// with a terminal on standard input (`inputIsTerminal`), else kDefaultTimeoutSeconds; -1 when
// its value is none of these.
int TimeoutSeconds(const QCommandLineParser& parser, const GeneralOptions& options,
                   bool inputIsTerminal);

// -C DIR, each in turn as given: the folder the command works in. Empty on success, else the
// reason.
std::string EnterDirectories(const QCommandLineParser& parser, const GeneralOptions& options);

// Carries out --log (its header names the program's version, the command, the type, the file
// and the port) and --verbose on `report`; the exit status when that fails.
std::optional<int> ApplyGeneralOptions(const QCommandLineParser& parser,
                                       const GeneralOptions& options, Report& report,
                                       const QString& command);
