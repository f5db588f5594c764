#pragma once

#include <functional>

// What a host adapter reaches of the window that runs a job: its two message passes and
// whether a close of the window is waiting for the job to end.
struct WindowPasses {
    // The designed message pass: held input first, then everything pending.
    std::function<void()> processMessages;
    // Everything pending but the user's input; the caller holds the serial driver's poll.
    std::function<void()> paintOnlyPass;
    std::function<bool()> closing;
};
