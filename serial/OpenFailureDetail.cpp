#include "OpenFailureDetail.h"

#include <cerrno>

#include "Platform.h"
#include "PortNames.h"

namespace {

struct ReasonRow {
    int error;
    const char* english;
    const char* polish;
};

// The C library's words where they already say what happened; ours where they mislead a
// user of a serial port ("Inappropriate ioctl for device" for /dev/null).
constexpr ReasonRow kReasons[] = {
    {ENOENT, "no such device (unplugged, or a link to nothing)",
     "brak urządzenia (odłączone albo dowiązanie do niczego)"},
    {EACCES, "Permission denied", "brak uprawnień do portu"},
    {EPERM, "Operation not permitted", "operacja niedozwolona"},
    {EBUSY, "Device or resource busy\nThe port is in use by another program.",
     "urządzenie zajęte\nPort jest używany przez inny program."},
    {EAGAIN, "Resource temporarily unavailable\nThe port is in use by another program.",
     "zasób chwilowo niedostępny\nPort jest używany przez inny program."},
    {ENOTTY, "not a serial port", "to nie jest port szeregowy"},
    {EISDIR, "a directory, not a serial port", "to jest katalog, a nie port szeregowy"},
    {ENXIO, "no device behind this node (unplugged, or a port without hardware)",
     "brak urządzenia pod tym węzłem (odłączone albo port bez sprzętu)"},
    {ENODEV, "no such device, or no driver for it", "brak urządzenia albo jego sterownika"},
    {EIO, "Input/output error", "błąd wejścia/wyjścia urządzenia"},
    {ELOOP, "too many symbolic links", "zbyt wiele dowiązań symbolicznych"},
    {ENAMETOOLONG, "the port's path is too long", "zbyt długa ścieżka portu"},
};

}  // namespace

std::string OpenErrorReason(int error, ReasonLanguage language) {
    const bool polish = language == ReasonLanguage::Polish;
    if (error == EWOULDBLOCK) error = EAGAIN;
    for (const ReasonRow& row : kReasons) {
        if (row.error == error) return polish ? row.polish : row.english;
    }
    if (error == 0) return polish ? "nie udało się otworzyć portu" : "the port could not be opened";
    if (polish) return "błąd systemowy nr " + std::to_string(error);
    // The untranslated text: the command line speaks English whatever the locale.
    return platform::EnglishErrorText(error);
}

std::string OpenFailureDetail(const std::string& portName, const OpenFailure& failure,
                              ReasonLanguage language) {
    const std::string shown = ShownPortName(portName);
    if (failure.path.empty() && failure.error == ENOENT) {  // the name maps to no device
        return shown + (language == ReasonLanguage::Polish ? ": brak takiego portu" : ": no such port");
    }
    if (failure.path.empty() && failure.error == 0) return {};  // the backend told no reason
    std::string detail = shown;
    if (!failure.path.empty() && failure.path != shown) detail += " = " + failure.path;
    std::string reason = OpenErrorReason(failure.error, language);
    // A known holder replaces the general words about another program.
    if (!failure.holder.empty()) reason = reason.substr(0, reason.find('\n'));
    detail += ": " + reason;
    if (failure.error == EACCES || failure.error == EPERM) {
        PortDescription port = DescribePortName(failure.path.empty() ? portName : failure.path);
        if (port.device.empty()) {  // the node is gone: its group is unknown, name the usual one
            port.group = "dialout";
            port.groupMayOpen = true;
        }
        // Appended piece by piece: gcc 12 at -O3 warns falsely (-Wrestrict, its bug 105329)
        // on a literal put before a string made in the same expression.
        detail += '\n';
        detail += PermissionHint(port, language);
    } else if (!failure.holder.empty()) {
        detail += language == ReasonLanguage::Polish ? "\nPort zajmuje " : "\nThe port is in use by ";
        detail += failure.holder + ".";
    }
    return detail;
}
