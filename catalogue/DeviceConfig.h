#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Splits a whole text file (init.cfg, opis.txt) into lines as the program reads them:
// CR, LF or CR LF end a line; a NUL byte ends the text; a last line without its end
// counts, a line end at the very end adds no empty line. Bytes are kept as stored. Stops
// after `maxLines` + 1 lines, so a caller with a bound sees that it was passed.
std::vector<std::string> SplitTextLines(std::string_view bytes,
                                        std::size_t maxLines = static_cast<std::size_t>(-1));

// The FirmwareFolder piece of a device-type line: after the first colon (or from the start
// when there is none) up to the last two characters; empty when nothing is left.
std::string CutFolder(std::string_view line);

// The DeviceKind: the line's last character read as a decimal digit. Anything else throws
// std::runtime_error "'<char>' is not a valid integer value" ('' for an empty line).
uint8_t CutDeviceKind(std::string_view line);

// init.cfg of the base directory as device-type lines (CP1250 bytes; a UTF-8 file is
// converted, see TextEncoding.h). A file that is not regular, is larger than kInitCfgLimit or
// has more than kInitCfgLineLimit lines throws FileReadError (BoundedRead.h), as does a
// failed read.
std::vector<std::string> LoadDeviceTypeLines(const std::string& baseDirectory);

// False for a folder (as on disk) that would name a place outside the base directory: one
// with a ".." piece between its slashes. Such a folder is never made or written into.
bool StaysInBase(std::string_view folderOnDisk);

// Creates the missing device folders below the base directory, one level each; failures
// are skipped silently (the steps that use a missing folder meet it later), and so are
// folders that do not stay in the base directory.
void CreateDeviceFolders(const std::string& baseDirectory, const std::vector<std::string>& lines);

// The store as both hosts open it before their work: init.cfg's device-type lines, with the
// missing device folders made. Throws as LoadDeviceTypeLines does, and nothing is made then.
std::vector<std::string> PrepareStore(const std::string& baseDirectory);

// Name of a device folder on disk (UTF-8) from its CP1250 bytes.
std::string FolderOnDisk(std::string_view folderBytes);
