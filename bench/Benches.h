#pragma once

#include <string>

#include "Catalogue.h"

// The benchmark entry points of tandel-bench; each prints its figures as "name value" lines.
int LiveUpdateBench(const CatalogueShape& shape);
int BareLiveUpdateBench(const CatalogueShape& shape);
int StartupBench(const std::string& program, const std::string& probe);
void WriteProgrammingWorkDir(const std::string& dir);
int ProgrammingBench(int kind);
int FloorReport(int kind);
