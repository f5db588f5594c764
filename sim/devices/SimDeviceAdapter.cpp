#include "SimDeviceAdapter.h"

LineConfig LineConfigOf(const LineSettings& settings) {
    return {settings.baudRate, settings.byteSize, settings.parity, settings.stopBits};
}

SimDeviceAdapter::SimDeviceAdapter(DeviceCore& core) : core_(core) {
    core_.Attach(this);
}

SimDeviceAdapter::~SimDeviceAdapter() {
    core_.Attach(nullptr);
}

void SimDeviceAdapter::OnOpen(SimLine& line) {
    line_ = &line;
    core_.LineChanged(LineConfigOf(line.Settings()));
    core_.PowerOn(line.Now());
}

void SimDeviceAdapter::OnClose() {
    if (line_) core_.PowerOff(line_->Now());
    line_ = nullptr;
}

void SimDeviceAdapter::OnLineSettings(const LineSettings& settings) {
    core_.LineChanged(LineConfigOf(settings));
}

void SimDeviceAdapter::OnRts(bool high) {
    if (line_) core_.RtsChanged(high, line_->Now());
}

void SimDeviceAdapter::OnByte(uint8_t b) {
    if (line_) core_.Receive(b, line_->Now());
}

void SimDeviceAdapter::Send(uint8_t byte, uint32_t atTick) {
    if (line_) line_->Send(byte, atTick);
}

void SimDeviceAdapter::Break(uint32_t atTick) {
    if (line_) line_->SendBreak(atTick);
}

void SimDeviceAdapter::Drop(uint32_t atTick) {
    if (line_) line_->HangupAt(atTick);
}
