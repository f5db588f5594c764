#pragma once

#include <QStringList>

// Parses tandel-cli's arguments (the program name first), runs the command and returns the
// exit status. Usage errors give 2 with their reason on standard error.
int RunCommandLine(const QStringList& arguments);
