#include "OpenFailureDetail.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "PortDescription.h"

namespace {

// "COM1" for "\\.\COM1"; any other name as it stands.
std::string ShownPortName(const std::string& portName) {
    static const std::string kPrefix = "\\\\.\\";
    return portName.rfind(kPrefix, 0) == 0 ? portName.substr(kPrefix.size()) : portName;
}

// The group that owns the device node; serial nodes usually belong to "dialout".
std::string NodeGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (const group* owner = ::getgrgid(st.st_gid)) return owner->gr_name;
    }
    return "dialout";
}

}  // namespace

std::string OpenFailureDetail(const std::string& portName, const OpenFailure& failure) {
    if (failure.path.empty() && failure.error == ENOENT) return OpenFailureReason(portName);
    if (failure.path.empty() && failure.error == 0) return {};  // the backend told no reason
    const std::string shown = ShownPortName(portName);
    std::string detail = shown;
    if (!failure.path.empty() && failure.path != shown) detail += " = " + failure.path;
    detail += ": ";
    detail += failure.error != 0 ? std::strerror(failure.error) : "the port could not be opened";
    if (failure.error == EACCES || failure.error == EPERM) {
        detail += "\n" + PermissionHint(NodeGroup(failure.path));
    } else if (!failure.holder.empty()) {
        detail += "\nThe port is in use by " + failure.holder + ".";
    } else if (failure.error == EWOULDBLOCK || failure.error == EBUSY) {
        detail += "\nThe port is in use by another program.";
    }
    return detail;
}
