#include "GeneralOptions.h"

#include <QCoreApplication>
#include <string>

#include "ExitCodes.h"
#include "PortNames.h"
#include "Report.h"
#include "TerminalSystem.h"

GeneralOptions AddGeneralOptions(QCommandLineParser& parser) {
    GeneralOptions options{
        QCommandLineOption({"h", "help"}, "Displays this help."),
        QCommandLineOption({"V", "version"}, "Displays the version (without a command)."),
        QCommandLineOption({"v", "verbose"},
                           "The serial line's events on standard error: port opened, line "
                           "settings, bytes sent and received."),
        QCommandLineOption("json", "One JSON object per line instead of text."),
        QCommandLineOption("log", "Append the log lines to FILE with a time stamp.", "FILE"),
        QCommandLineOption("timeout",
                           "End the waits without a limit of their own (the server's "
                           "greeting, the via-server probes) after SECONDS, as STOP does "
                           "(exit status 3); none: no limit. Default: none with a terminal "
                           "on standard input, else " +
                               QString::number(kDefaultTimeoutSeconds) + " s.",
                           "SECONDS|none"),
        QCommandLineOption({"q", "quiet"}, "Print only the result and failures."),
        QCommandLineOption("C",
                           "Work in DIR (init.cfg, the store, relative paths) as if "
                           "started there.",
                           "DIR"),
    };
    parser.addOptions({options.help, options.version, options.verbose, options.quiet, options.json,
                       options.log, options.timeout, options.directory});
    return options;
}

bool JsonAsked(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--") return false;
        if (arguments[i] == "--json" || arguments[i] == "-json") return true;
    }
    return false;
}

namespace {

// The value of the command's option `name`; empty when it was not given, by its name or by
// its one-letter name.
std::string ValueOf(const QCommandLineParser& parser, const QString& name) {
    const QStringList given = parser.optionNames();
    const bool set = given.contains(name) ||
                     (name != "folder" && name != "kind" && given.contains(name.left(1)));
    return set ? parser.value(name).toStdString() : std::string();
}

}  // namespace

int TimeoutSeconds(const QCommandLineParser& parser, const GeneralOptions& options,
                   bool inputIsTerminal) {
    if (!parser.isSet(options.timeout)) return inputIsTerminal ? 0 : kDefaultTimeoutSeconds;
    if (parser.value(options.timeout) == "none") return 0;
    bool number = false;
    const int seconds = parser.value(options.timeout).toInt(&number);
    return number && seconds >= 1 && seconds <= 86400 ? seconds : -1;
}

std::string EnterDirectories(const QCommandLineParser& parser, const GeneralOptions& options) {
    for (const QString& dir : parser.values(options.directory)) {
        if (std::string why = ChangeDirectory(dir.toStdString()); !why.empty())
            return "-C " + dir.toStdString() + ": " + why;
    }
    return {};
}

std::optional<int> ApplyGeneralOptions(const QCommandLineParser& parser,
                                       const GeneralOptions& options, Report& report,
                                       const QString& command) {
    report.SetVerbose(parser.isSet(options.verbose));
    report.SetQuiet(parser.isSet(options.quiet));
    if (TimeoutSeconds(parser, options, true) < 0) {
        return report.Finish(kExitUsage,
                             "--timeout SECONDS takes a whole number of seconds "
                             "from 1 to 86400, or none");
    }
    if (parser.isSet(options.log)) {
        // Runs side by side in one file stay apart by their port's tag.
        std::string port = ShownPortText(ValueOf(parser, "port"));
        if (port.empty()) port = command == "flash" ? "auto" : "-";
        std::string header = QCoreApplication::applicationName().toStdString() + " " +
                             QCoreApplication::applicationVersion().toStdString() + " " +
                             command.toStdString();
        for (const char* name : {"type", "folder", "kind", "firmware"}) {
            if (const std::string value = ValueOf(parser, name); !value.empty())
                header += std::string(" --") + name + " \"" + value + "\"";
        }
        if (command == "flash") header += " --port " + port;
        std::string reason;
        if (!report.OpenLogFile(parser.value(options.log), reason, port, header)) {
            return report.Finish(kExitFileError, reason);
        }
    }
    return std::nullopt;
}
