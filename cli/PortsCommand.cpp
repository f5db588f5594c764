#include <QJsonObject>

#include "Commands.h"
#include "ExitCodes.h"
#include "PortDescription.h"
#include "Report.h"

namespace {

QJsonObject PortObject(const PortDescription& port) {
    QJsonObject object{{"event", "port"},
                       {"port", QStringLiteral("COM%1").arg(port.number)},
                       {"present", port.present}};
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

}  // namespace

int PortsCommand(Report& report, bool all) {
    for (const PortDescription& port : DescribePorts()) {
        if (!all && !PortMayHoldDevice(port)) continue;
        report.Record(PortObject(port), PortDescriptionLine(port));
    }
    return report.Finish(kExitOk);
}
