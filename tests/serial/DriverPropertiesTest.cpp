#include <gtest/gtest.h>

#include "SimulatedBackend.h"
#include "TSerialPortDriver.h"

namespace {

struct Fixture : ::testing::Test {
    VirtualClock clock{1000};
    SimulatedBackend backend{clock};
    TSerialPortDriver dane{backend, clock};
};

TEST_F(Fixture, DefaultsAreClosedCom2At9600) {
    EXPECT_FALSE(dane.IsPortOpen());
    EXPECT_EQ(dane.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(dane.Port(), pnCOM2);
    EXPECT_EQ(dane.BaudRateValue(), 9600u);
    EXPECT_EQ(dane.BytesWaiting(), 65535);
}

}  // namespace
