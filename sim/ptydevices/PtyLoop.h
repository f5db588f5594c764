#pragma once

#include <vector>

#include "PtyLine.h"

// Serves the lines until `stopFd` becomes readable (a signal's self-pipe, or a test's pipe).
void RunPtyLines(const std::vector<PtyLine*>& lines, int stopFd);
