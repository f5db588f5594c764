#include "PortDescription.h"

#include <filesystem>

#include "PortNames.h"

namespace fs = std::filesystem;

namespace {

std::string Label(const PortDescription& port) {
    return port.number > 0 ? ComLabel(port.number) : port.path;
}

// A udev rule that gives the group dialout read and write on the port's node: by the
// adapter's ids where sysfs has them, else by the kernel's name of the node.
std::string UdevRule(const PortDescription& port) {
    std::string match;
    if (port.usb && !port.usb->vendorId.empty() && !port.usb->productId.empty()) {
        match = "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + port.usb->vendorId +
                "\", ATTRS{idProduct}==\"" + port.usb->productId + "\"";
    } else {
        match = "KERNEL==\"" + fs::path(port.device).filename().string() + "\"";
    }
    return match + ", GROUP=\"dialout\", MODE=\"0660\"";
}

std::string NotSerialText(ReasonLanguage language) {
    return language == ReasonLanguage::Polish ? "to nie jest port szeregowy" : "not a serial port";
}

std::string NoSuchPortText(ReasonLanguage language) {
    return language == ReasonLanguage::Polish ? "brak takiego portu" : "no such port";
}

}  // namespace

std::string PermissionHint(const std::string& group) {
    return "no permission: join the group " + group + " (sudo usermod -aG " + group +
           " $USER) and log in again";
}

std::string PermissionHint(const PortDescription& port, ReasonLanguage language) {
    const bool polish = language == ReasonLanguage::Polish;
    if (port.groupMayOpen) {
        if (!polish) return PermissionHint(port.group);
        return "brak uprawnień: dołącz do grupy " + port.group + " (sudo usermod -aG " +
               port.group + " $USER) i zaloguj się ponownie";
    }
    const std::string rule = UdevRule(port);
    const std::string reload = "sudo udevadm control --reload && sudo udevadm trigger";
    const std::string join = "sudo usermod -aG dialout $USER";
    if (polish) {
        return "brak uprawnień: skopiuj wiersz\n" + rule +
               "\ndo pliku w /etc/udev/rules.d/ (np. 99-tandel.rules), wykonaj " + reload +
               ", dołącz do grupy dialout (" + join + ") i zaloguj się ponownie";
    }
    return "no permission: copy the line\n" + rule +
           "\ninto a file in /etc/udev/rules.d/ (for example 99-tandel.rules), run " + reload +
           ", join the group dialout (" + join + ") and log in again";
}

std::string PortDescriptionLine(const PortDescription& port, ReasonLanguage language) {
    if (port.notTerminal) return Label(port) + " = " + port.device + ": " + NotSerialText(language);
    if (!port.present) return Label(port) + ": " + NoSuchPortText(language);
    std::string line = Label(port) + " = " + port.device;
    if (port.usb) {
        const UsbIdentity& usb = *port.usb;
        std::string names = usb.manufacturer;
        if (!usb.product.empty()) names += (names.empty() ? "" : " ") + usb.product;
        std::string details;
        auto add = [&details](const std::string& piece) {
            if (piece.empty()) return;
            if (!details.empty()) details += ", ";
            details += piece;
        };
        add(names);
        add(usb.vendorId + ":" + usb.productId);
        if (!usb.serial.empty()) {
            add((language == ReasonLanguage::Polish ? "numer seryjny " : "serial ") + usb.serial);
        }
        line += " (" + details + ")";
    }
    if (!port.mayOpen) line += "; " + PermissionHint(port, language);
    return line;
}

std::string OpenFailureReason(const std::string& portName, const PortEnvironment& env) {
    const PortDescription port = DescribePortName(portName, env);
    if (!port.present) return PortDescriptionLine(port);
    const std::string head = Label(port) + " = " + port.device + ": ";
    return head + (port.mayOpen ? "in use by another program"
                                : PermissionHint(port, ReasonLanguage::English));
}
