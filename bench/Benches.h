#pragma once

#include <string>

#include "Catalogue.h"

// The benchmark entry points of tandel-bench; each prints its figures as "name value" lines.
int LiveUpdateBench(const CatalogueShape& shape);
int BareLiveUpdateBench(const CatalogueShape& shape);
int StartupBench(const std::string& program, const std::string& probe);
void WriteProgrammingWorkDir(const std::string& dir);
int ProgrammingBench(int kind);
// One programming run of `kind` with a probe timer: the longest stretch the window did not
// answer; with closeAfterMs >= 0, the window is closed that long after START instead and the
// time until it is gone is reported.
int AliveBench(int kind, int closeAfterMs);
int FloorReport(int kind);
