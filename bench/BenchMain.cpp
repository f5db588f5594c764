// tandel-bench: the benchmark driver behind bench/run.
//
//   tandel-bench make-catalogue ROOT WORKDIR [TYPES FILES]   catalogue + init.cfg
//   tandel-bench init-cfg WORKDIR TYPES                       init.cfg only
//   tandel-bench curl-config FILE BASE OUTDIR [TYPES FILES] [--lists-only]
//   tandel-bench liveupdate [TYPES FILES]                     two LiveUpdate runs (cwd)
//   tandel-bench startup PROGRAM PROBE                        one start of PROGRAM (cwd)
//   tandel-bench make-programming WORKDIR                     init.cfg + firmware files
//   tandel-bench program KIND                                 one programming run (cwd)
//   tandel-bench alive KIND [CLOSE_AFTER_MS]                 window answer time / close (cwd)
//   tandel-bench floor KIND                                   the least time of that run
//
// Figures go to stdout as "name value" lines; a failed run exits non-zero.

#include <QApplication>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "BenchWindow.h"
#include "Benches.h"
#include "Catalogue.h"

namespace {

CatalogueShape Shape(const std::vector<std::string>& args, size_t at) {
    CatalogueShape shape;
    if (args.size() > at + 1 && args[at][0] != '-') {
        shape.types = std::stoi(args[at]);
        shape.files = std::stoi(args[at + 1]);
    }
    return shape;
}

int Usage() {
    Fail("usage: tandel-bench make-catalogue|init-cfg|curl-config|liveupdate|startup ...");
}

int Dispatch(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    if (command == "make-catalogue" && args.size() >= 3) {
        WriteCatalogue(args[1], args[2], Shape(args, 3), 1);
        return 0;
    }
    if (command == "init-cfg" && args.size() == 3) {
        WriteInitCfg(args[1], std::stoi(args[2]), 1);
        return 0;
    }
    if (command == "curl-config" && args.size() >= 4) {
        const bool listsOnly = args.back() == "--lists-only";
        WriteCurlConfig(args[1], args[2], args[3], Shape(args, 4), !listsOnly);
        return 0;
    }
    if (command == "startup" && args.size() == 3) return StartupBench(args[1], args[2]);
    if (command == "make-programming" && args.size() == 2) {
        WriteProgrammingWorkDir(args[1]);
        return 0;
    }
    if (command == "floor" && args.size() == 2) return FloorReport(std::stoi(args[1]));
    if (command == "liveupdate-bare") return BareLiveUpdateBench(Shape(args, 1));
    const bool alive = command == "alive" && (args.size() == 2 || args.size() == 3);
    if (command == "liveupdate" || (command == "program" && args.size() == 2) || alive) {
        if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        if (command == "program") return ProgrammingBench(std::stoi(args[1]));
        if (alive)
            return AliveBench(std::stoi(args[1]), args.size() == 3 ? std::stoi(args[2]) : -1);
        return LiveUpdateBench(Shape(args, 1));
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Dispatch(argc, argv);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}
