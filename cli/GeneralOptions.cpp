#include "GeneralOptions.h"

#include <string>

#include "ExitCodes.h"
#include "Report.h"

GeneralOptions AddGeneralOptions(QCommandLineParser& parser) {
    GeneralOptions options{
        QCommandLineOption({"h", "help"}, "Displays this help."),
        QCommandLineOption({"V", "version"}, "Displays the version (without a command)."),
        QCommandLineOption({"v", "verbose"},
                           "The serial line's events on standard error: port opened, line "
                           "settings, bytes sent and received."),
        QCommandLineOption("json", "One JSON object per line instead of text."),
        QCommandLineOption("log", "Append the log lines to FILE with a time stamp.", "FILE"),
    };
    parser.addOptions(
        {options.help, options.version, options.verbose, options.json, options.log});
    return options;
}

bool JsonAsked(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--") return false;
        if (arguments[i] == "--json" || arguments[i] == "-json") return true;
    }
    return false;
}

std::optional<int> ApplyGeneralOptions(const QCommandLineParser& parser,
                                       const GeneralOptions& options, Report& report) {
    report.SetVerbose(parser.isSet(options.verbose));
    if (parser.isSet(options.log)) {
        std::string reason;
        if (!report.OpenLogFile(parser.value(options.log), reason)) {
            return report.Finish(kExitFileError, reason);
        }
    }
    return std::nullopt;
}
