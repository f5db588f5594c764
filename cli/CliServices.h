#pragma once

#include <cstdio>

class Clock;
class SerialBackend;

// What tandel-cli works with: the serial ports and the clock that times its runs (simulated
// ports and virtual time in tests), and its standard streams. Whether the error stream and
// the input are terminals is asked of them.
struct CliServices {
    SerialBackend& serialPorts;
    Clock& clock;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    int in = 0;  // standard input  // where the question of a card in a reader is answered
};
