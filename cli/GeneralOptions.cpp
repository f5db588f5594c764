#include "GeneralOptions.h"

#include <QCoreApplication>
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

namespace {

// The value of the command's option `name`; empty when the command has no such option.
std::string ValueOf(const QCommandLineParser& parser, const QString& name) {
    return parser.optionNames().contains(name) ? parser.value(name).toStdString() : std::string();
}

}  // namespace

std::optional<int> ApplyGeneralOptions(const QCommandLineParser& parser,
                                       const GeneralOptions& options, Report& report,
                                       const QString& command) {
    report.SetVerbose(parser.isSet(options.verbose));
    if (parser.isSet(options.log)) {
        // Runs side by side in one file stay apart by their port's tag.
        std::string port = ValueOf(parser, "port");
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
