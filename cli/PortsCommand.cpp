#include <QJsonObject>

#include "Commands.h"
#include "ExitCodes.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "Report.h"
#include "TerminalText.h"

namespace {

QJsonObject PortObject(const PortDescription& port) {
    QJsonObject object{{"event", "port"},
                       {"port", QString::fromStdString(ComLabel(port.number))},
                       {"present", port.present}};
    if (port.notTerminal) {
        object["path"] = QString::fromStdString(port.path);
        object["device"] = QString::fromStdString(port.device);
        object["reason"] = "not a serial port";
    }
    if (!port.present) return object;
    object["path"] = QString::fromStdString(port.path);
    object["device"] = QString::fromStdString(port.device);
    object["mayOpen"] = port.mayOpen;
    object["group"] = QString::fromStdString(port.group);
    if (!port.mayOpen) object["hint"] = QString::fromStdString(PermissionHint(port.group));
    if (port.usb) {
        object["usb"] = QJsonObject{
            {"manufacturer", QString::fromStdString(port.usb->manufacturer)},
            {"product", QString::fromStdString(port.usb->product)},
            {"vendorId", QString::fromStdString(port.usb->vendorId)},
            {"productId", QString::fromStdString(port.usb->productId)},
            {"serial", QString::fromStdString(port.usb->serial)},
        };
    }
    return object;
}

// The port with the texts that come from the machine (link names, the adapter's strings)
// made safe for a terminal.
PortDescription ShownPort(PortDescription port) {
    port.path = ShownOnTerminal(port.path);
    port.device = ShownOnTerminal(port.device);
    port.group = ShownOnTerminal(port.group);
    if (port.usb) {
        for (std::string* field : {&port.usb->manufacturer, &port.usb->product,
                                   &port.usb->vendorId, &port.usb->productId, &port.usb->serial})
            *field = ShownOnTerminal(*field);
    }
    return port;
}

}  // namespace

int PortsCommand(Report& report, bool all) {
    for (const PortDescription& port : DescribePorts()) {
        if (!all && !PortMayHoldDevice(port)) continue;
        report.Record(PortObject(port), PortDescriptionLine(ShownPort(port)));
    }
    return report.Finish(kExitOk);
}
