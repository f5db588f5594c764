#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

// Boot-loader command frames: 0xCC, length, command, parameters, XOR check of all the bytes
// before it. The frames without image data never change, so they are spelled out here.

using Byte = uint8_t;

constexpr Byte kFrameStart = 0xCC;

// Command codes.
constexpr Byte kCmdCardInit = 0x01;
constexpr Byte kCmdEraseFlash = 0x10;
constexpr Byte kCmdBitLock = 0x20;
constexpr Byte kCmdWriteFlash = 0x40;
constexpr Byte kCmdResetServer = 0x50;
constexpr Byte kCmdReadFirmwareNumber = 0x60;

// Parameters of BitLock.
constexpr Byte kBitLockOn = 0x55;
constexpr Byte kBitLockOff = 0x22;

using ControlFrame4 = std::array<Byte, 4>;
using ControlFrame5 = std::array<Byte, 5>;

constexpr ControlFrame4 kFrameCardInit{0xCC, 0x01, 0x01, 0xCC};
constexpr ControlFrame4 kFrameEraseFlash{0xCC, 0x01, 0x10, 0xDD};
constexpr ControlFrame5 kFrameBitLockOn{0xCC, 0x02, 0x20, 0x55, 0xBB};
constexpr ControlFrame5 kFrameBitLockOff{0xCC, 0x02, 0x20, 0x22, 0xCC};
constexpr ControlFrame4 kFrameResetServer{0xCC, 0x01, 0x50, 0x9D};
constexpr ControlFrame4 kFrameReadFirmwareNumber{0xCC, 0x01, 0x60, 0xAD};

// Write frame: CC 48 40, address high and low, 69 record bytes, check.
constexpr Byte kWriteFrameLength = 0x48;
constexpr size_t kWriteFrameSize = 75;
// Check value after CC 48 40; the address and record bytes are folded in as they go out.
constexpr Byte kWriteCheckStart = kFrameStart ^ kWriteFrameLength ^ kCmdWriteFlash;

// Unframed bytes of the boot-mode handshakes.
constexpr Byte kGreetingByte = 0xAA;  // server and card greetings, pass-through answer
constexpr Byte kServerBootV5 = 0xD3;  // server boot version 5, also sent back as acknowledgement
constexpr Byte kProbeFirst = 0xAA;    // via-server probe
constexpr Byte kProbeSecond = 0xBB;

// One-byte replies of the boot loader.
constexpr Byte kReplyOk = 0x90;
constexpr Byte kReplyCrc = 0x91;
constexpr Byte kReplyProcess = 0x92;
constexpr Byte kReplyLock = 0x94;

// XOR of every byte.
Byte FrameChecksum(std::span<const Byte> bytes);

// "CRC", "PROCES", "LOCK" for the three named failure codes, empty for any other.
std::string ReplyWord(Byte reply);

// Two upper-case hexadecimal digits ("0A", "91").
std::string HexByte(Byte value);
