#include <QJsonArray>
#include <QJsonObject>
#include <stdexcept>
#include <utility>

#include "BaseDirectory.h"
#include "Commands.h"
#include "DeviceType.h"
#include "ExitCodes.h"
#include "FirmwareStore.h"
#include "Report.h"
#include "TerminalText.h"

int TypesCommand(Report& report) {
    const std::string base = BaseDirectory();
    std::vector<DeviceType> types;
    try {
        types = LoadDeviceTypes(base);
    } catch (const std::runtime_error& failure) {
        return report.Finish(kExitFileError, failure.what());
    }
    // Only what the chosen output shows is built: a line may be megabytes long.
    for (DeviceType& type : types) {
        std::vector<std::string> files;
        try {
            files = LoadFirmwareListing(base, type.folder).files;
        } catch (const std::runtime_error& failure) {
            return report.Finish(kExitFileError, failure.what());
        }
        if (report.Json()) {
            QJsonObject object{{"event", "type"},
                               {"text", QString::fromStdString(type.text)},
                               {"line", QString::fromStdString(std::exchange(type.line, {}))},
                               {"folder", QString::fromStdString(std::exchange(type.folder, {}))}};
            if (type.kind) {
                object["kind"] = *type.kind;
            } else {
                object["kind"] = QJsonValue::Null;
                object["kindError"] = QString::fromStdString(type.kindError);
            }
            QJsonArray names;
            for (const std::string& name : files) names.append(QString::fromStdString(name));
            object["firmware"] = names;
            report.Record(object, {});
            continue;
        }
        std::string text = ShownOnTerminal(type.text) + " (" + ShownOnTerminal(type.folder) + ", ";
        text += type.kind ? "kind " + std::to_string(*type.kind) + ")"
                          : "kind ?: " + ShownOnTerminal(type.kindError) + ")";
        for (const std::string& name : files) text += "\n  " + ShownOnTerminal(name);
        report.Record({}, text);
    }
    return report.Finish(kExitOk);
}
