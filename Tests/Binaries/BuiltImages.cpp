// Reads a Windows build's built-images.txt to find the images it made.
#include "BuiltImages.h"

#include <cstdlib>
#include <fstream>

namespace binaries {

std::variant<Present, Absent> Locate(const std::string& tree, const std::string& file)
{
    const std::filesystem::path bin = std::filesystem::path(LED_WINDOWS_BUILD_ROOT) / tree / "bin";
    const char* required = std::getenv("LED_REQUIRE_WINDOWS_BUILDS");
    const bool mustExist = required != nullptr && std::string(required) == "1";

    std::ifstream manifest(bin / "built-images.txt");
    if (!manifest) {
        return Absent{tree + " is not built (no " + (bin / "built-images.txt").string() +
                          "): run cmake --preset " + tree + " && cmake --build --preset " + tree,
                      mustExist};
    }
    for (std::string line; std::getline(manifest, line);) {
        if (line.rfind(file + " built", 0) == 0) {
            if (!std::filesystem::exists(bin / file)) {
                return Absent{tree + " says it built " + file + " but " + (bin / file).string() + " is missing",
                              true};
            }
            return Present{bin / file};
        }
    }
    return Absent{tree + "'s built-images.txt does not mention " + file, true};
}

} // namespace binaries
