#pragma once

#include <string>
#include <string_view>

// The operating system's side of a terminal and of the working folder, as tandel-cli asks for
// it (through platform/).

// Whether `fd` is a terminal.
bool IsTerminal(int fd);

// The terminal's width in columns on `fd`; 0 when `fd` is no terminal or does not tell.
int TerminalColumns(int fd);

// From now on a change of the terminal's size is noted (SIGWINCH); nothing else changes, a
// read or a wait goes on as before.
void WatchTerminalResize();
// Whether the terminal's size changed since the last call (true once per change).
bool TakeTerminalResize();

// Makes `dir` the current folder; empty on success, else the system's reason.
std::string ChangeDirectory(const std::string& dir);

// Opens `path` for appending (created when missing) only as a regular file: not through a
// link at its name, without waiting (a named pipe's open would wait for a reader). The
// descriptor, or -1 with the reason in `reason` ("Not a regular file" or the system's words).
int OpenRegularFileForAppending(const std::string& path, std::string& reason);
// Writes `data` with one write; empty on success, else the system's reason.
std::string WriteWhole(int fd, std::string_view data);
// Closes `fd` when it is one.
void CloseFile(int fd);
