// Windows only: the refusals of the Win32 backend that need no serial port (the rest runs
// under wine on the device simulator's pseudo-terminals).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "OpenFailureDetail.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "SerialBackend.h"
#include "Win32Text.h"

// A name with nothing behind it is "no such port"; a device that is no serial port (a named
// pipe) is refused as one, not opened and written to.
TEST(Win32Backend, AnAbsentPortIsNoSuchPortAndAPipeIsNoSerialPort) {
    SerialBackend& ports = SystemSerialBackend();
    EXPECT_EQ(ports.Open(ComPortName(20)), kInvalidSerialHandle);
    EXPECT_EQ(OpenFailureDetail(ComPortName(20), ports.LastOpenFailure()), "COM20: no such port");
    EXPECT_FALSE(DescribePort(20).present);

    const std::string pipe = "\\\\.\\pipe\\tandel-" + std::to_string(GetCurrentProcessId());
    const HANDLE server = CreateNamedPipeW(platform::WideText(pipe).c_str(), PIPE_ACCESS_DUPLEX, 0,
                                           1, 64, 64, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ports.Open(pipe), kInvalidSerialHandle);
    EXPECT_EQ(OpenFailureDetail(pipe, ports.LastOpenFailure()),
              ShownPortName(pipe) + ": not a serial port");
    CloseHandle(server);
}
