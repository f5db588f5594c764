#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

// The texts a failed request shows the user, in the words of the HTTP client the program
// was first built with where it has words for the failure.

// "Socket Error # <error>\n<the system's description>."
std::string SocketErrorText(int error);

// The text of a failed transfer: `osErrno` is the system error behind it (0: none),
// `description` libcurl's description of this failure (may be empty).
std::string TransferFailureText(CURLcode code, long osErrno, std::string_view description);

// A status line as the user sees it: bytes that are not UTF-8 read as CP1250.
std::string StatusLineText(std::string_view line);
