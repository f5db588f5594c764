#pragma once

#include <string>

// Conversions between the program's texts and the Win32 API's, for the Windows files of the
// platform and the serial backend only.
namespace platform {

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring WideText(const std::string& utf8);
std::string Utf8Text(const std::wstring& wide);
// The errno value that stands for a Win32 error code (ERROR_FILE_NOT_FOUND is ENOENT,
// ERROR_ACCESS_DENIED is EACCES, ...); EIO for codes without a closer one.
int ErrnoOf(unsigned long win32Error);

}  // namespace platform
