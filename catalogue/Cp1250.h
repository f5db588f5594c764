#pragma once

#include <string>
#include <string_view>

// The Central European code page of init.cfg, opis.txt and lista.txt.
// Bytes the code page leaves unassigned decode to U+FFFD.
std::string Cp1250ToUtf8(std::string_view bytes);

// Characters without a CP1250 byte (and malformed UTF-8) become '?'.
std::string Utf8ToCp1250(std::string_view utf8);
