// Finds the images a Windows build produced, or says why a test must be skipped or fail instead.
#pragma once

#include <filesystem>
#include <string>
#include <variant>

namespace binaries {

// The image is there to check.
struct Present {
    std::filesystem::path path;
};
// The build that makes the image has not run, or the image is missing; the text says which.
struct Absent {
    std::string reason;
    bool isFailure; // true when the build claims it made the file, or when builds are required
};

// Looks up `file` in the bin/ folder of build tree `tree` ("windows-x64", "windows-x86") using that
// build's built-images.txt. With LED_REQUIRE_WINDOWS_BUILDS=1 in the environment a missing build fails.
std::variant<Present, Absent> Locate(const std::string& tree, const std::string& file);

} // namespace binaries

// Skips or fails the running test unless the image is present; yields its path.
#define LED_LOCATE_IMAGE_OR_RETURN(pathVar, tree, file)                                      \
    std::filesystem::path pathVar;                                                           \
    {                                                                                        \
        auto located = binaries::Locate(tree, file);                                         \
        if (auto* absent = std::get_if<binaries::Absent>(&located)) {                         \
            if (absent->isFailure) {                                                         \
                FAIL() << absent->reason;                                                    \
            }                                                                                \
            GTEST_SKIP() << absent->reason;                                                  \
        }                                                                                    \
        (pathVar) = std::get<binaries::Present>(located).path;                               \
    }
