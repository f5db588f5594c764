#pragma once

#include <string>

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
