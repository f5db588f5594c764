#pragma once

#include <string>
#include <string_view>

// Text files written by hand (init.cfg, opis.txt) come from Windows editors as CP1250 and
// from Linux editors as UTF-8. A file counts as UTF-8 when it starts with the UTF-8 byte-order
// mark, or when it is valid UTF-8 and holds at least one multi-byte sequence; anything else
// (plain ASCII included) is CP1250.
bool IsUtf8Text(std::string_view bytes);

// The file's text as CP1250 bytes, the form the device-type lines are kept in: UTF-8 text
// loses its byte-order mark and characters without a CP1250 byte become '?'.
std::string TextFileAsCp1250(std::string_view bytes);

// The file's text as UTF-8 for display, without a byte-order mark.
std::string TextFileAsUtf8(std::string_view bytes);
