#pragma once

// The least time a programming run can take against the device simulator, START to
// "SerialPort wolny...", split into what makes it up:
//  - line: every byte on the run's critical path at the line rate (8N1: 10 bit times at
//    9600 bit/s, the card reader's 8E2: 12). Bytes that cross while the run waits for
//    something else (the acknowledgement 0xD3 during the 1100 ms pause, the via-server probe
//    during its 300 ms wait, a reader's echoes while the rest of a write frame still goes
//    out, the last frame of the server that nobody waits for) are not on the path;
//  - pauses: the fixed waits of the entry procedures and sequences, including the driver's
//    200 ms input time-out of a DrainInput that finds nothing;
//  - device: the simulator's own times (a device reset standing in for the RTS pulse, the
//    greeting delay, the time to answer a step, and its millisecond ticks).
struct Floor {
    double lineMs = 0;
    double pausesMs = 0;
    double deviceMs = 0;
    double TotalMs() const { return lineMs + pausesMs + deviceMs; }
};

// For the device kinds 1 (server, fixed port), 3 (card through the server, fixed port) and
// 4 (card in a reader).
Floor FloorOf(int kind);
