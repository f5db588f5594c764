#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonObject>
#include <cstdio>
#include <map>

#include "Commands.h"
#include "Platform.h"
#include "ExitCodes.h"
#include "GeneralOptions.h"
#include "Report.h"
#include "TerminalSystem.h"

namespace {

const std::map<QString, const char*> kCommands = {
    {"ports",
     "Lists the ports of COM1 to COM20 that exist on this machine (--all: all twenty names): "
     "the device, the USB adapter and whether you may open it."},
    {"types", "Lists the device types of init.cfg and the firmware files of each."},
    {"liveupdate", "Fills the firmware store from the update server (TANDEL_LIVEUPDATE_URL)."},
    {"flash", "Programs one device: --type TEXT or --folder F --kind N, --firmware NAME.bin."},
    {"info",
     "Tells a device's firmware number without erasing it: --type TEXT or --folder F --kind N "
     "(kinds 1, 2 and 4)."},
    {"history",
     "The programming journal: every run, what was written into which device. Times are "
     "shown in local time with their offset from UTC."},
};

// The command: the first argument that is neither an option nor the value of one of the
// options that may come before it (--log, --timeout, -C).
QString FindCommand(const QStringList& arguments) {
    static const QStringList kValued{"--log", "-log", "--timeout", "-timeout", "-C", "--C"};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (kValued.contains(arguments[i])) {
            ++i;
        } else if (!arguments[i].startsWith('-')) {
            return arguments[i];
        }
    }
    return {};
}

constexpr const char* kExitStatuses =
    "\nExit status:\n"
    "  0        done (programmed)\n"
    "  1        the device refused a step before its flash was touched, or No was answered\n"
    "  2        usage error\n"
    "  3        nothing touched: no port, port in use, no server, no answer\n"
    "  4        firmware file, init.cfg or store file error; the output of ports, types,\n"
    "           history, info, --help or --version not written (a full disk, a closed pipe)\n"
    "  5        update server: network failure or HTTP error\n"
    "  6        the device's flash is erased or partly written: program it again\n"
    "  7        LiveUpdate done, but a file was refused or a device type skipped\n"
    "  130/143  stopped by SIGINT/SIGTERM (on Windows: Ctrl+C / Ctrl+Break)\n"
    "  129      stopped by SIGHUP (the terminal or ssh session closed; on Windows the console\n"
    "           window closed, logging off, shutting down), as by SIGTERM\n"
    "\nEnvironment:\n"
    "  TANDEL_PORTS           directory of COM1, COM2, ... entries that alone maps the ports\n"
    "                         (Linux; on Windows COMn is the system's port COMn)\n"
    "  TANDEL_LIVEUPDATE_URL  the update server's base address\n";

// `command --help`: its own options only; the options of every command and the exit statuses
// are told once, by tandel-cli --help.
QString CommandHelp(const QString& command, const char* description,
                    const QList<QCommandLineOption>& options, const QCommandLineOption& help) {
    QCommandLineParser shown;
    shown.setApplicationDescription(description);
    shown.addOption(help);
    shown.addOptions(options);
    QString text = shown.helpText();
    text.replace(0, text.indexOf('\n'),
                 "Usage: " + QCoreApplication::applicationName() + " [general options] " + command +
                     " [options]");
    return text + "\nGeneral options (-v, -q, --json, --log, --timeout, -C): " +
           QCoreApplication::applicationName() + " --help\n";
}

}  // namespace

int RunCommandLine(const QStringList& arguments, const CliServices& services) {
    const QString command = FindCommand(arguments);
    const bool flash = command == "flash";
    const bool info = command == "info";

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const GeneralOptions general = AddGeneralOptions(parser);
    const QCommandLineOption& help = general.help;
    const QCommandLineOption& version = general.version;
    const QCommandLineOption type({"t", "type"}, "The device type: its text in init.cfg.", "TEXT");
    const QCommandLineOption folder("folder", "The firmware folder (with --kind).", "F");
    const QCommandLineOption kind("kind", "The device kind 1 to 5 (with --folder).", "N");
    const QCommandLineOption firmware({"f", "firmware"},
                                      "The firmware file of the folder, or a path to a file "
                                      "anywhere (a name with '/').",
                                      "FILE");
    const QCommandLineOption port({"p", "port"},
                                  "COM1 to COM20 (com1 is COM1) or " +
                                      QString(platform::kDevicePathText) +
                                      "; required for kinds 1, 3 and 4 (kinds 2 and 5 search: "
                                      "leave it out or give auto).",
                                  "PORT");
    const QCommandLineOption yes({"y", "yes"}, "Answer Yes to the question of a card in a reader.");
    const QCommandLineOption tag("tag",
                                 "Start every line on standard output and standard error with "
                                 "the port, as [COM1] (for runs side by side).");
    QList<QCommandLineOption> own;
    if (flash) own = {type, folder, kind, firmware, port, yes, tag};
    if (info) own = {type, folder, kind, port, tag};
    const QCommandLineOption since("since",
                                   "Only runs started at or after DATE (ISO 8601), local time "
                                   "unless it gives its offset: 2026-12-09, 2026-12-09T14:00, "
                                   "2026-12-09T14:00+01:00.",
                                   "DATE");
    const QCommandLineOption historyPort(
        {"p", "port"}, "Only runs on PORT (COMn, " + QString(platform::kDevicePathText) + ").",
        "PORT");
    if (command == "history") own = {since, historyPort};
    const QCommandLineOption sequential("sequential",
                                        "One request at a time (as TANDEL_LIVEUPDATE_PARALLEL=1).");
    if (command == "liveupdate") own = {sequential};
    const QCommandLineOption all("all", "All twenty names, also those with no port behind.");
    if (command == "ports") own = {all};
    parser.addOptions(own);

    const auto known = kCommands.find(command);
    if (known == kCommands.end()) {
        parser.setApplicationDescription(
            "LiveUpdate and programming of Quorvant II devices from a terminal.\n\n"
            "Commands:\n  ports        COM1 to COM20 on this machine\n"
            "  types        the device types of init.cfg\n"
            "  liveupdate   fill the firmware store from the update server\n"
            "  flash        program one device\n"
            "  info         a device's firmware number, without erasing it\n"
            "  history      the programming journal\n\n"
            "tandel-cli COMMAND --help tells more.");
        parser.addPositionalArgument("command", "ports, types, liveupdate, flash, info or history.",
                                     "COMMAND [options]");
    }

    // A usage error found while parsing ends with a result object too when --json was asked.
    Report usage(JsonAsked(arguments), services.out, services.err);
    if (!parser.parse(arguments)) return usage.Finish(kExitUsage, parser.errorText().toStdString());
    if (parser.isSet(help)) {
        const QString text = known != kCommands.end()
                                 ? CommandHelp(command, known->second, own, help)
                                 : parser.helpText() + kExitStatuses;
        if (!usage.Json()) {
            // UTF-8 on every system: the Windows console is switched to it (the local 8-bit
            // code page there is an ANSI one).
            usage.PrintText(text.toStdString());
            return usage.Finish(kExitOk);
        }
        usage.Record(QJsonObject{{"event", "help"}, {"text", text}}, {});
        return usage.Finish(kExitOk);
    }
    if (parser.isSet(version)) {
        if (!command.isEmpty()) {
            return usage.Finish(kExitUsage, "--version takes no command (tandel-cli --version)");
        }
        const QString name = QCoreApplication::applicationName();
        const QString number = QCoreApplication::applicationVersion();
        usage.Record(QJsonObject{{"event", "version"}, {"program", name}, {"version", number}},
                     (name + " " + number).toStdString());
        return usage.Finish(kExitOk);
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

    Report report(parser.isSet(general.json), services.out, services.err);
    if (flash || command == "liveupdate") report.SetOutputIsResult(false);
    // An empty value (a script's unset variable) is named as such, not taken as "no filter" or
    // as a file called "". flash and info tell an empty --port or --type in their own words.
    for (const QString& name : parser.optionNames()) {
        const bool ownWords =
            command != "history" && QStringList{"p", "port", "t", "type"}.contains(name);
        if (!ownWords && parser.values(name).contains(QString())) {
            return report.Finish(
                kExitUsage, (name.size() == 1 ? "-" : "--") + name.toStdString() + " is empty");
        }
    }
    if (std::string why = EnterDirectories(parser, general); !why.empty())
        return report.Finish(kExitFileError, why);
    if (const auto failed = ApplyGeneralOptions(parser, general, report, command)) return *failed;
    if (command == "ports") return PortsCommand(report, parser.isSet(all));
    if (command == "types") return TypesCommand(report);
    if (command == "liveupdate") return LiveUpdateCommand(report, parser.isSet(sequential));
    if (command == "history") {
        return HistoryCommand(report, {parser.value(since).toStdString(),
                                       parser.value(historyPort).toStdString()});
    }

    FlashRequest request;
    request.type = parser.value(type).toStdString();
    request.folder = parser.value(folder).toStdString();
    if (flash) request.firmware = parser.value(firmware).toStdString();
    if (parser.isSet(port)) request.port = parser.value(port).toStdString();
    request.yes = flash && parser.isSet(yes);
    request.tag = parser.isSet(tag);
    const bool inputIsTerminal = IsTerminal(services.in);
    request.timeoutSeconds = TimeoutSeconds(parser, general, inputIsTerminal);
    request.noteWait = inputIsTerminal && !parser.isSet(general.timeout);
    request.timeoutIsDefault = !parser.isSet(general.timeout);
    const bool byType = parser.isSet(type);
    const bool byFolder = parser.isSet(folder) || parser.isSet(kind);
    if (byType == byFolder) {
        return report.Finish(kExitUsage, "give either --type TEXT or --folder F --kind N");
    }
    if (byType && request.type.empty()) {
        return report.Finish(kExitUsage,
                             "--type is empty: give the device type's text in init.cfg "
                             "(tandel-cli types lists them)");
    }
    if (byFolder) {
        bool number = false;
        request.kind = parser.value(kind).toInt(&number);
        if (!parser.isSet(folder) || !number) {
            return report.Finish(kExitUsage, "--folder F and --kind N (1 to 5) go together");
        }
    }
    if (info) return InfoCommand(report, std::move(request), services);
    if (request.firmware.empty())
        return report.Finish(kExitUsage, "--firmware NAME.bin is missing");
    return FlashCommand(report, std::move(request), services);
}
