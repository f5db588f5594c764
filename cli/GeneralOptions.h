#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <optional>

class Report;

// The options every command takes.
struct GeneralOptions {
    QCommandLineOption help;
    QCommandLineOption version;
    QCommandLineOption verbose;
    QCommandLineOption json;
    QCommandLineOption log;
    QCommandLineOption timeout;
};

// Adds them to `parser`: -h/--help, -V/--version, -v/--verbose, --json and --log FILE.
GeneralOptions AddGeneralOptions(QCommandLineParser& parser);

// Whether the arguments ask for --json, looked at before they are parsed, so that a usage
// error the parser finds ends with a result object too.
bool JsonAsked(const QStringList& arguments);

// --timeout SECONDS: a whole number of seconds from 1; 0 when it is not given, -1 when its
// value is none of these.
int TimeoutSeconds(const QCommandLineParser& parser, const GeneralOptions& options);

// Carries out --log (its header names the program's version, the command, the type, the file
// and the port) and --verbose on `report`; the exit status when that fails.
std::optional<int> ApplyGeneralOptions(const QCommandLineParser& parser,
                                       const GeneralOptions& options, Report& report,
                                       const QString& command);
