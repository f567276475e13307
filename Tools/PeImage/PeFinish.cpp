// Post-link step for the driver image: marks named sections discardable and writes the image checksum.
#include <cstdio>
#include <string>
#include <vector>

#include "PeImage.h"

// Usage: pe-finish IMAGE [--discardable SECTION]...
int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: pe-finish IMAGE [--discardable SECTION]...\n");
        return 2;
    }
    std::vector<std::string> discardable;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--discardable" && i + 1 < argc) {
            discardable.emplace_back(argv[++i]);
        } else {
            std::fprintf(stderr, "pe-finish: unknown argument '%s'\n", argv[i]);
            return 2;
        }
    }
    try {
        pe::Image image = pe::Image::Load(argv[1]);
        for (const std::string& name : discardable) {
            const pe::Section* section = image.FindSection(name);
            if (section == nullptr) {
                std::fprintf(stderr, "pe-finish: %s has no section %s\n", argv[1], name.c_str());
                return 1;
            }
            image.SetSectionCharacteristics(name, section->characteristics | pe::kScnDiscardable);
        }
        image.WriteChecksum();
        image.Save(argv[1]);
    } catch (const pe::FormatError& error) {
        std::fprintf(stderr, "pe-finish: %s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
