#pragma once

// What every fuzz target shares: the input as text, a scratch folder of its own, and a check
// that stops the run (a finding) when a property of the code does not hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace quelvo::fuzz {

inline std::string Text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A folder for this process, made once (a fuzzing run executes millions of inputs).
inline const std::string& Scratch() {
    static const std::string dir = [] {
        const auto d =
            std::filesystem::temp_directory_path() / ("quelvo-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d.string() + "/";
    }();
    return dir;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Empties the scratch folder.
inline void ClearScratch() {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(Scratch(), ec)) {
        std::filesystem::remove_all(e.path(), ec);
    }
}

#define QUELVO_FUZZ_CHECK(condition)                                                              \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

}  // namespace quelvo::fuzz
