#pragma once

#include <map>
#include <memory>
#include <string>

#include "DeviceCore.h"
#include "PortNames.h"
#include "SimDeviceAdapter.h"
#include "SimulatedBackend.h"

// The ports COM1 to COM20 of a simulated backend, by number: absent (the default), in use,
// silent, or attached to a device model.
class SimPortSet {
  public:
    static constexpr int kPorts = kComPortCount;

    explicit SimPortSet(SimulatedBackend& backend) : backend_(backend) {}

    void SetAbsent(int n);
    void SetInUse(int n);
    void SetSilent(int n);
    void Attach(int n, DeviceCore& device);

    SimulatedBackend& Backend() { return backend_; }
    const SimulatedBackend::PortRecord& Record(int n) const {
        return backend_.Record(ComPortName(n));
    }

  private:
    SimulatedBackend& backend_;
    std::map<int, std::unique_ptr<SimDeviceAdapter>> adapters_;
};
