#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

// A scratch directory removed at the end of the test.
struct TempDir {
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tandel-serial-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

// Sets an environment variable for one scope.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { unsetenv(name_); }
    const char* name_;
};
