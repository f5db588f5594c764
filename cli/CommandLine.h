#pragma once

#include <QStringList>

#include "CliServices.h"

// Parses tandel-cli's arguments (the program name first), runs the command with `services`
// and returns the exit status. Usage errors give 2 with their reason on standard error.
int RunCommandLine(const QStringList& arguments, const CliServices& services);
