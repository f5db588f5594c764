#pragma once

#include <string>

// Where the file that --firmware names lies: a name without '/' is an entry of the device
// type's folder, as the window's list has it; a name with '/' is a path to a file anywhere,
// relative to the current folder or absolute.
struct FirmwareLocation {
    std::string base;    // the base directory the run loads from
    std::string folder;  // the folder in it
    std::string entry;   // the file in that folder
};

// The location of `firmware` for the device type's folder `folder`.
FirmwareLocation LocateFirmware(const std::string& folder, const std::string& firmware);

// Empty when the file is there and loadable (the size rule included), before any port is
// opened; else the reason as the window's error box would give it, with the file's path.
std::string CheckFirmware(const std::string& folder, const std::string& firmware);
