// Reads and patches Windows PE images (headers, sections, imports, exports, version resource, checksum).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

// A file that is not a well-formed PE image, or a read outside it.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kSubsystemNative = 1;
constexpr std::uint16_t kSubsystemGui = 2;
constexpr std::uint16_t kSubsystemConsole = 3;

constexpr std::uint32_t kScnCode = 0x00000020;
constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnDiscardable = 0x02000000;
constexpr std::uint32_t kScnNotPaged = 0x08000000;
constexpr std::uint32_t kScnExecute = 0x20000000;
constexpr std::uint32_t kScnRead = 0x40000000;
constexpr std::uint32_t kScnWrite = 0x80000000;

struct Section {
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t characteristics = 0;
    std::uint32_t headerOffset = 0; // file offset of this section's header
};

// One imported module; functions imported by ordinal appear as "#N".
struct ImportedModule {
    std::string name;
    std::vector<std::string> functions;
};

struct Export {
    std::uint32_t ordinal = 0;
    std::string name; // empty when exported by ordinal only
    std::uint32_t rva = 0;
};

struct ExportTable {
    std::string moduleName;
    std::uint32_t ordinalBase = 0;
    std::vector<Export> entries; // ordered by ordinal
};

struct VersionNumber {
    std::uint16_t parts[4] = {};
    friend bool operator==(const VersionNumber&, const VersionNumber&) = default;
};

struct Translation {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    friend bool operator==(const Translation&, const Translation&) = default;
};

struct VersionResource {
    VersionNumber fileVersion;
    VersionNumber productVersion;
    std::vector<Translation> translations;
    // String tables by their key ("040904B0"), each a map of name to value.
    std::map<std::string, std::map<std::string, std::string>> stringTables;
};

// The image checksum the Windows loader verifies for drivers: the file summed as 16-bit little-endian words
// with end-around carry, the 4-byte checksum field at checksumOffset counted as zero, plus the file length.
std::uint32_t Checksum(const std::vector<std::uint8_t>& bytes, std::size_t checksumOffset);

class Image {
public:
    explicit Image(std::vector<std::uint8_t> bytes);
    static Image Load(const std::filesystem::path& path);
    void Save(const std::filesystem::path& path) const;

    bool Is64Bit() const { return is64_; }
    std::uint16_t Machine() const;
    std::uint16_t Characteristics() const;
    std::uint16_t Subsystem() const;
    std::uint16_t DllCharacteristics() const;
    std::uint32_t EntryPointRva() const;

    const std::vector<Section>& Sections() const { return sections_; }
    const Section* FindSection(const std::string& name) const;
    // The section whose virtual range holds the RVA, or null.
    const Section* SectionAt(std::uint32_t rva) const;

    std::vector<ImportedModule> Imports() const;
    std::optional<ExportTable> Exports() const;
    std::optional<VersionResource> Version() const;

    std::uint32_t StoredChecksum() const;
    std::uint32_t ComputeChecksum() const { return Checksum(bytes_, ChecksumOffset()); }

    void SetSectionCharacteristics(const std::string& name, std::uint32_t characteristics);
    void WriteChecksum();

private:
    std::uint16_t U16(std::size_t offset) const;
    std::uint32_t U32(std::size_t offset) const;
    std::uint64_t U64(std::size_t offset) const;
    void PutU32(std::size_t offset, std::uint32_t value);
    std::string CString(std::size_t offset) const;
    std::size_t RvaToOffset(std::uint32_t rva) const;
    std::pair<std::uint32_t, std::uint32_t> DataDirectory(unsigned index) const; // rva, size
    std::size_t ChecksumOffset() const { return optionalHeader_ + 64; }

    std::vector<std::uint8_t> bytes_;
    bool is64_ = false;
    std::size_t fileHeader_ = 0;
    std::size_t optionalHeader_ = 0;
    std::vector<Section> sections_;
};

// Names of the section characteristic bits, for messages ("CODE|EXECUTE|READ").
std::string DescribeCharacteristics(std::uint32_t characteristics);

} // namespace pe
