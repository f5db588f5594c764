#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "BenchWindow.h"
#include "Benches.h"

extern char** environ;

namespace {

long long NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

}  // namespace

// Starts `program` in the current directory with the start-up probe preloaded and reports
// the probe's moments as milliseconds from the moment just before the process was spawned.
int StartupBench(const std::string& program, const std::string& probe) {
    setenv("LD_PRELOAD", probe.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int out[2];
    if (pipe(out) != 0) Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

    pid_t child = 0;
    const long long start = NowNs();
    const int rc = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) Fail("cannot start " + program);

    std::map<std::string, long long> marks;
    FILE* lines = fdopen(out[0], "r");
    char name[32];
    long long value = 0;
    while (std::fscanf(lines, "%31s %lld", name, &value) == 2) marks[name] = value;
    std::fclose(lines);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("the program did not end cleanly");

    for (const char* moment : {"app", "shown", "painted", "ready"}) {
        if (!marks.count(moment)) Fail(std::string("the program never reported ") + moment);
        Report(std::string("startup_") + moment + "_ms", (marks[moment] - start) / 1e6);
    }
    Report("startup_devices", static_cast<double>(marks["devices"]));
    return 0;
}
