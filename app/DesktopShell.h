#pragma once

#include <QString>

// What the window needs of the desktop it runs on, one file per system (chosen by CMake).

// True when a window can be shown: on Linux a display server is named, or a Qt platform is
// chosen; a Windows session always has its desktop.
bool HasDisplay();

// Opens a web address in the user's browser; whether that worked is not looked at.
void OpenInBrowser(const QString& url);

// The environment paragraph of `tandel --help` for this system.
const char* EnvironmentHelp();

// Before --help or --version print: a program started from a console writes there (a Windows
// window program has no console of its own; the one it was started from is attached).
void UseStartingConsole();
