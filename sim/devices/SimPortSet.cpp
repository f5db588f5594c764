#include "SimPortSet.h"

void SimPortSet::SetAbsent(int n) {
    backend_.RemovePort(ComPortName(n));
    adapters_.erase(n);
}

void SimPortSet::SetInUse(int n) {
    backend_.AddPortInUse(ComPortName(n));
    adapters_.erase(n);
}

void SimPortSet::SetSilent(int n) {
    backend_.AddSilentPort(ComPortName(n));
    adapters_.erase(n);
}

void SimPortSet::Attach(int n, DeviceCore& device) {
    auto adapter = std::make_unique<SimDeviceAdapter>(device);
    backend_.AttachDevice(ComPortName(n), *adapter);
    adapters_[n] = std::move(adapter);
}
