#pragma once

#include "DeviceCore.h"
#include "SimulatedBackend.h"

// Binds a transport-independent device model to a port of the simulated backend: the
// program's opens, closes, settings, RTS levels and bytes go to the model, and the model's
// bytes become readable at their ticks. A dropped line hangs the port up.
class SimDeviceAdapter : public SimDevice, public DeviceLine {
  public:
    explicit SimDeviceAdapter(DeviceCore& core);
    ~SimDeviceAdapter() override;

    // SimDevice
    void OnOpen(SimLine& line) override;
    void OnClose() override;
    void OnLineSettings(const LineSettings& settings) override;
    void OnRts(bool high) override;
    void OnByte(uint8_t b) override;

    // DeviceLine
    void Send(uint8_t byte, uint32_t atTick) override;
    void Break(uint32_t atTick) override;
    void Drop(uint32_t atTick) override;

  private:
    DeviceCore& core_;
    SimLine* line_ = nullptr;
};

LineConfig LineConfigOf(const LineSettings& settings);
