#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the file system and the update server take, checked before a name is used, so that a
// name past a limit is refused like any other bad name instead of failing the whole run.

// Percent-encodes every byte that may not stand in a URL path as it is (a blank is "%20");
// the bytes are the CP1250 bytes of a folder or file name.
std::string EncodeUrlPath(std::string_view bytes);

// Longest request address made; HTTP servers commonly refuse longer request lines.
inline constexpr std::size_t kUrlLimit = 8000;

// True when the device folder `folder` (CP1250 bytes, as cut from its line) can be written
// into below `base`: every piece of its name on disk at most NAME_MAX bytes, the path of any
// file the run writes there shorter than PATH_MAX, and its lista.txt address below the server's
// `address` within kUrlLimit.
bool UsableStoreFolder(const std::string& base, std::string_view folder,
                       const std::string& address);

// True when the firmware file of the listed name `name` (CP1250 bytes, without ".bin") can be
// made in the folder `store` (on disk) and asked for below the folder's address `remote`: its
// name on disk at most NAME_MAX bytes, its path shorter than PATH_MAX, its address within
// kUrlLimit.
bool UsableStoreFile(const std::string& store, std::string_view name, const std::string& remote);

// The first bytes of a refused name that its log line shows.
std::string_view LogPart(std::string_view name);

// Removes from `directory` the temporary files ".tandel-<pid>-<n>.part" that a LiveUpdate
// writes before renaming them, where no run holds the file's lock any more (the run was
// killed). The lock, not <pid>, decides: a run in another PID namespace or on another machine
// sharing the store keeps its files. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& directory);
