#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// A private folder of the process under the system's temporary folder, made on first use and
// removed at exit. Targets that touch files work below it and empty it for every input.
inline const std::filesystem::path& ScratchRoot() {
    static const std::filesystem::path root = [] {
        std::string pattern = std::filesystem::temp_directory_path() / "tandel-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchRoot(), ignored);
        });
        return std::filesystem::path(pattern);
    }();
    return root;
}

// An empty folder `name` below the scratch root (emptied when it exists).
inline std::filesystem::path FreshFolder(const std::string& name) {
    const std::filesystem::path folder = ScratchRoot() / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// Every entry below `root`, relative to it, symbolic links not followed.
inline std::vector<std::filesystem::path> TreeOf(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        entries.push_back(std::filesystem::relative(entry.path(), root));
    return entries;
}
