// The PE reader against independent oracles: hand-summed checksums, the import and export tables of Wine's
// own PE files as objdump reads them, and malformed files. (Wine's stored checksums are no oracle: Debian
// strips the files after Wine's build wrote them.)
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "PeImage.h"

namespace {

struct ChecksumCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::size_t checksumOffset;
    std::uint32_t expected;
};

TEST(PeChecksum, MatchesHandSummedValues)
{
    const ChecksumCase cases[] = {
        // words 0x0001 + 0x0002, plus length 4
        {"plain words", {0x01, 0x00, 0x02, 0x00}, 100, 3 + 4},
        // 0xFFFF + 0x0002 = 0x10001, the carry folds back in: 0x0002, plus length 4
        {"end-around carry", {0xFF, 0xFF, 0x02, 0x00}, 100, 2 + 4},
        // an odd last byte counts as the low half of a word
        {"odd length", {0x10, 0x00, 0x05}, 100, 0x15 + 3},
        // the four bytes at the checksum offset count as zero
        {"checksum field skipped", {0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0x00}, 2, 3 + 8},
        {"empty", {}, 0, 0},
    };
    for (const ChecksumCase& c : cases) {
        EXPECT_EQ(pe::Checksum(c.bytes, c.checksumOffset), c.expected) << c.name;
    }
}

TEST(PeImage, RejectsMalformedFiles)
{
    std::vector<std::uint8_t> mzOnly(0x40, 0);
    mzOnly[0] = 'M';
    mzOnly[1] = 'Z';
    std::vector<std::uint8_t> badSignature = mzOnly;
    badSignature.resize(0x100, 0);
    badSignature[0x3C] = 0x80;
    badSignature[0x80] = 'N';
    badSignature[0x81] = 'E';
    std::vector<std::uint8_t> truncatedHeader = badSignature;
    truncatedHeader[0x80] = 'P';
    truncatedHeader.resize(0x90); // PE signature, but the optional header is cut off
    // One section whose long-name reference "/abc" is not a number; the file has a symbol table.
    std::vector<std::uint8_t> badLongName = badSignature;
    badLongName[0x80] = 'P';
    badLongName[0x81] = 'E';
    badLongName[0x86] = 1;    // one section
    badLongName[0x8C] = 0xF0; // symbol table pointer
    badLongName[0x94] = 0xF0; // optional header size
    badLongName[0x98] = 0x0B; // PE32+ magic
    badLongName[0x99] = 0x02;
    badLongName.resize(0x188 + 40, 0);
    badLongName[0x188] = '/';
    badLongName[0x189] = 'a';
    badLongName[0x18A] = 'b';
    badLongName[0x18B] = 'c';

    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"empty", {}},           {"MZ header only", mzOnly},          {"NE signature", badSignature},
        {"truncated", truncatedHeader}, {"section name /abc", badLongName}};
    for (const auto& [name, bytes] : cases) {
        EXPECT_THROW(pe::Image{bytes}, pe::FormatError) << name;
    }
}

// Wine's own PE files: built by other tools, so their stored checksums and tables are independent oracles.
const std::filesystem::path kWineModules[] = {
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ntoskrnl.exe",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll",
    "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll",
};

std::vector<std::filesystem::path> PresentWineModules()
{
    std::vector<std::filesystem::path> present;
    for (const auto& path : kWineModules) {
        if (std::filesystem::exists(path)) {
            present.push_back(path);
        }
    }
    return present;
}

std::string Capture(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    std::array<char, 4096> chunk{};
    while (pipe && std::fgets(chunk.data(), chunk.size(), pipe.get()) != nullptr) {
        output += chunk.data();
    }
    return output;
}

TEST(PeImage, ImportsAndExportsAgreeWithObjdump)
{
    const auto modules = PresentWineModules();
    if (modules.empty()) {
        GTEST_SKIP() << "Wine is not installed (Tools/install-deps wine): no foreign PE files to compare with";
    }
    for (const auto& path : modules) {
        const std::string dump = Capture("x86_64-w64-mingw32-objdump -p '" + path.string() + "' 2>/dev/null");
        ASSERT_FALSE(dump.empty()) << "objdump (binutils-mingw-w64-x86-64) is missing";
        // objdump lists "DLL Name: X" per import descriptor and "\t[ ord] name" per named export.
        std::vector<std::string> dumpedModules;
        std::set<std::string> dumpedExports;
        std::istringstream lines(dump);
        bool inNameTable = false;
        for (std::string line; std::getline(lines, line);) {
            if (auto at = line.find("DLL Name: "); at != std::string::npos) {
                dumpedModules.push_back(line.substr(at + 10));
            } else if (line == "[Ordinal/Name Pointer] Table") {
                inNameTable = true;
            } else if (inNameTable && line.empty()) {
                inNameTable = false;
            } else if (inNameTable && line.find("] ") != std::string::npos) {
                dumpedExports.insert(line.substr(line.find("] ") + 2));
            }
        }
        const pe::Image image = pe::Image::Load(path);
        std::vector<std::string> readModules;
        for (const auto& module : image.Imports()) {
            readModules.push_back(module.name);
        }
        EXPECT_EQ(readModules, dumpedModules) << path;
        const auto exports = image.Exports();
        ASSERT_TRUE(exports.has_value()) << path;
        std::set<std::string> readExports;
        for (const auto& entry : exports->entries) {
            if (!entry.name.empty()) {
                readExports.insert(entry.name);
            }
        }
        EXPECT_EQ(readExports, dumpedExports) << path;
        EXPECT_GT(readExports.size(), 100u) << path;
    }
}

} // namespace
