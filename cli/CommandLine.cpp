#include "CommandLine.h"

#include <QCommandLineParser>
#include <cstdio>
#include <map>

#include "Commands.h"
#include "ExitCodes.h"
#include "Report.h"

namespace {

const std::map<QString, const char*> kCommands = {
    {"ports",
     "Lists COM1 to COM20 as this machine maps them: the device, the USB adapter and "
     "whether you may open it."},
    {"types", "Lists the device types of init.cfg and the firmware files of each."},
    {"liveupdate", "Fills the firmware store from the update server (TANDEL_LIVEUPDATE_URL)."},
    {"flash", "Programs one device: --type TEXT or --folder F --kind N, --firmware NAME.bin."},
};

// The command: the first argument that is neither an option nor the value of --log.
QString FindCommand(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--log") {
            ++i;
        } else if (!arguments[i].startsWith('-')) {
            return arguments[i];
        }
    }
    return {};
}

void Print(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

}  // namespace

int RunCommandLine(const QStringList& arguments) {
    const QString command = FindCommand(arguments);
    const bool flash = command == "flash";

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption json("json", "One JSON object per line instead of text.");
    const QCommandLineOption log("log", "Append the log lines to FILE with a time stamp.", "FILE");
    parser.addOptions({json, log});
    const QCommandLineOption type("type", "The device type: its text in init.cfg.", "TEXT");
    const QCommandLineOption folder("folder", "The firmware folder (with --kind).", "F");
    const QCommandLineOption kind("kind", "The device kind 1 to 5 (with --folder).", "N");
    const QCommandLineOption firmware("firmware", "The firmware file of the folder.", "NAME.bin");
    const QCommandLineOption port("port",
                                  "COM1 to COM20, a /dev path, or auto (default COM1; "
                                  "kinds 2 and 5 always search).",
                                  "PORT");
    const QCommandLineOption yes("yes", "Answer Yes to the question of a card in a reader.");
    if (flash) parser.addOptions({type, folder, kind, firmware, port, yes});
    const QCommandLineOption sequential("sequential",
                                        "One request at a time (as TANDEL_LIVEUPDATE_PARALLEL=1).");
    if (command == "liveupdate") parser.addOption(sequential);

    const auto known = kCommands.find(command);
    if (known != kCommands.end()) {
        parser.setApplicationDescription(known->second);
        parser.addPositionalArgument(command, "", command);
    } else {
        parser.setApplicationDescription(
            "LiveUpdate and programming of Quorvant II devices from a terminal.\n\n"
            "Commands:\n  ports        COM1 to COM20 on this machine\n"
            "  types        the device types of init.cfg\n"
            "  liveupdate   fill the firmware store from the update server\n"
            "  flash        program one device\n\n"
            "tandel-cli COMMAND --help tells more.");
        parser.addPositionalArgument("command", "ports, types, liveupdate or flash.",
                                     "COMMAND [options]");
    }

    Report usage(false);
    if (!parser.parse(arguments)) return usage.Finish(kExitUsage, parser.errorText().toStdString());
    if (parser.isSet(help)) {
        Print(parser.helpText());
        return kExitOk;
    }
    if (parser.isSet(version)) {
        Print(QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion() +
              "\n");
        return kExitOk;
    }
    if (command.isEmpty()) return usage.Finish(kExitUsage, "no command (tandel-cli --help)");
    if (known == kCommands.end()) {
        return usage.Finish(kExitUsage,
                            "unknown command " + command.toStdString() + " (tandel-cli --help)");
    }
    if (parser.positionalArguments().size() != 1) {
        return usage.Finish(
            kExitUsage, "unexpected argument " + parser.positionalArguments().at(1).toStdString());
    }

    Report report(parser.isSet(json));
    if (parser.isSet(log)) {
        std::string reason;
        if (!report.OpenLogFile(parser.value(log), reason)) {
            return report.Finish(kExitFileError, reason);
        }
    }
    if (command == "ports") return PortsCommand(report);
    if (command == "types") return TypesCommand(report);
    if (command == "liveupdate") return LiveUpdateCommand(report, parser.isSet(sequential));

    FlashRequest request;
    request.type = parser.value(type).toStdString();
    request.folder = parser.value(folder).toStdString();
    request.firmware = parser.value(firmware).toStdString();
    request.port = parser.value(port).toStdString();
    request.yes = parser.isSet(yes);
    const bool byType = parser.isSet(type);
    const bool byFolder = parser.isSet(folder) || parser.isSet(kind);
    if (byType == byFolder) {
        return report.Finish(kExitUsage, "give either --type TEXT or --folder F --kind N");
    }
    if (byFolder) {
        bool number = false;
        request.kind = parser.value(kind).toInt(&number);
        if (!parser.isSet(folder) || !number) {
            return report.Finish(kExitUsage, "--folder F and --kind N (1 to 5) go together");
        }
    }
    if (request.firmware.empty())
        return report.Finish(kExitUsage, "--firmware NAME.bin is missing");
    return FlashCommand(report, std::move(request));
}
