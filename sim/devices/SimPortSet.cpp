#include "SimPortSet.h"

std::string SimPortSet::Name(int n) {
    return "\\\\.\\COM" + std::to_string(n);
}

void SimPortSet::SetAbsent(int n) {
    backend_.RemovePort(Name(n));
    adapters_.erase(n);
}

void SimPortSet::SetInUse(int n) {
    backend_.AddPortInUse(Name(n));
    adapters_.erase(n);
}

void SimPortSet::SetSilent(int n) {
    backend_.AddSilentPort(Name(n));
    adapters_.erase(n);
}

void SimPortSet::Attach(int n, DeviceCore& device) {
    auto adapter = std::make_unique<SimDeviceAdapter>(device);
    backend_.AttachDevice(Name(n), *adapter);
    adapters_[n] = std::move(adapter);
}
