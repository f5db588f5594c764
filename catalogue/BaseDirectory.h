#pragma once

#include <string>

// The process's current working directory, read afresh at every call; every local path of
// the program starts here. No trailing separator except at the root.
std::string BaseDirectory();

// Joins two path pieces with the system's separator ('/', '\' on Windows, where the second
// piece's '/' become '\' too). An empty second piece gives "first/".
std::string JoinPath(const std::string& first, const std::string& second);

// The operating system's text for an errno value ("No such file or directory").
std::string SystemReason(int error);
