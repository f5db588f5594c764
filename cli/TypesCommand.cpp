#include <stdexcept>
#include <utility>

#include "BaseDirectory.h"
#include "Commands.h"
#include "DeviceType.h"
#include "ExitCodes.h"
#include "FirmwareStore.h"
#include "Report.h"
#include "TerminalText.h"

namespace {

// The type's JSON line, written out by hand: a line of init.cfg may be megabytes long, and
// the JSON classes hold several copies of it at once. The line and folder are taken out of
// `type` as they are written.
std::string TypeJson(DeviceType& type, const std::vector<std::string>& files) {
    std::string json = "{\"event\":\"type\",\"text\":" + JsonString(type.text);
    json += ",\"line\":";
    json += JsonString(std::exchange(type.line, {}));
    json += ",\"folder\":";
    json += JsonString(std::exchange(type.folder, {}));
    if (type.kind) {
        json += ",\"kind\":" + std::to_string(*type.kind);
    } else {
        json += ",\"kind\":null,\"kindError\":" + JsonString(type.kindError);
    }
    json += ",\"firmware\":[";
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0) json += ',';
        json += JsonString(files[i]);
    }
    json += "]}";
    return json;
}

}  // namespace

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
            report.RecordJson(TypeJson(type, files));
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
