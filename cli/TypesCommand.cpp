#include <QJsonArray>
#include <QJsonObject>
#include <stdexcept>

#include "BaseDirectory.h"
#include "Commands.h"
#include "DeviceType.h"
#include "ExitCodes.h"
#include "FirmwareStore.h"
#include "Report.h"

int TypesCommand(Report& report) {
    const std::string base = BaseDirectory();
    std::vector<DeviceType> types;
    try {
        types = LoadDeviceTypes(base);
    } catch (const std::runtime_error& failure) {
        return report.Finish(kExitFileError, failure.what());
    }
    for (const DeviceType& type : types) {
        QJsonObject object{{"event", "type"},
                           {"text", QString::fromStdString(type.text)},
                           {"line", QString::fromStdString(type.line)},
                           {"folder", QString::fromStdString(type.folder)}};
        std::string text = type.text + " (" + type.folder + ", ";
        if (type.kind) {
            object["kind"] = *type.kind;
            text += "kind " + std::to_string(*type.kind) + ")";
        } else {
            object["kind"] = QJsonValue::Null;
            object["kindError"] = QString::fromStdString(type.kindError);
            text += "kind ?: " + type.kindError + ")";
        }
        QJsonArray files;
        std::string fileLines;
        try {
            for (const std::string& name : LoadFirmwareListing(base, type.folder).files) {
                files.append(QString::fromStdString(name));
                fileLines += "\n  " + name;
            }
        } catch (const std::runtime_error& failure) {
            return report.Finish(kExitFileError, failure.what());
        }
        object["firmware"] = files;
        report.Record(object, text + fileLines);
    }
    return report.Finish(kExitOk);
}
