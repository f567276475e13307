// PE image reading and patching: bounds-checked, so a truncated or hostile file gives a FormatError.
#include "PeImage.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>

namespace pe {
namespace {

constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint32_t kResourceTypeVersion = 16;

std::size_t Align4(std::size_t value) { return (value + 3) & ~std::size_t{3}; }

} // namespace

Image::Image(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes))
{
    if (U16(0) != 0x5A4D) {
        throw FormatError("no MZ signature");
    }
    const std::size_t peOffset = U32(0x3C);
    if (U32(peOffset) != 0x00004550) {
        throw FormatError("no PE signature");
    }
    fileHeader_ = peOffset + 4;
    optionalHeader_ = fileHeader_ + 20;
    const std::uint16_t magic = U16(optionalHeader_);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        throw FormatError("unknown optional header magic");
    }
    is64_ = magic == kMagicPe32Plus;

    const std::uint16_t count = U16(fileHeader_ + 2);
    const std::size_t first = optionalHeader_ + U16(fileHeader_ + 16);
    const std::size_t symbols = U32(fileHeader_ + 8);
    const std::size_t stringTable = symbols + static_cast<std::size_t>(U32(fileHeader_ + 12)) * 18;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::size_t header = first + i * kSectionHeaderSize;
        Section section;
        (void)U32(header + 36); // the whole header lies inside the file
        for (std::size_t c = 0; c < 8 && bytes_[header + c] != 0; ++c) {
            section.name.push_back(static_cast<char>(bytes_[header + c]));
        }
        // Long names live in the COFF string table as "/offset".
        if (section.name.size() > 1 && section.name[0] == '/' && symbols != 0) {
            std::size_t offset = 0;
            const char* digits = section.name.data() + 1;
            const char* end = section.name.data() + section.name.size();
            if (const auto [stop, error] = std::from_chars(digits, end, offset); error != std::errc{} || stop != end) {
                throw FormatError("section name " + section.name + " is not a string table offset");
            }
            section.name = CString(stringTable + offset);
        }
        section.virtualSize = U32(header + 8);
        section.virtualAddress = U32(header + 12);
        section.rawSize = U32(header + 16);
        section.rawOffset = U32(header + 20);
        section.characteristics = U32(header + 36);
        section.headerOffset = static_cast<std::uint32_t>(header);
        sections_.push_back(section);
    }
}

Image Image::Load(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw FormatError("cannot open " + path.string());
    }
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return Image(std::move(bytes));
}

void Image::Save(const std::filesystem::path& path) const
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    if (!file) {
        throw FormatError("cannot write " + path.string());
    }
}

std::uint16_t Image::Machine() const { return U16(fileHeader_); }
std::uint16_t Image::Characteristics() const { return U16(fileHeader_ + 18); }
std::uint16_t Image::Subsystem() const { return U16(optionalHeader_ + 68); }
std::uint16_t Image::DllCharacteristics() const { return U16(optionalHeader_ + 70); }
std::uint32_t Image::EntryPointRva() const { return U32(optionalHeader_ + 16); }
std::uint32_t Image::StoredChecksum() const { return U32(ChecksumOffset()); }

const Section* Image::FindSection(const std::string& name) const
{
    auto it = std::find_if(sections_.begin(), sections_.end(), [&](const Section& s) { return s.name == name; });
    return it == sections_.end() ? nullptr : &*it;
}

const Section* Image::SectionAt(std::uint32_t rva) const
{
    for (const Section& section : sections_) {
        const std::uint32_t span = std::max(section.virtualSize, section.rawSize);
        if (rva >= section.virtualAddress && rva - section.virtualAddress < span) {
            return &section;
        }
    }
    return nullptr;
}

std::vector<ImportedModule> Image::Imports() const
{
    std::vector<ImportedModule> modules;
    const auto [rva, size] = DataDirectory(1);
    if (rva == 0 || size == 0) {
        return modules;
    }
    for (std::size_t descriptor = RvaToOffset(rva);; descriptor += 20) {
        const std::uint32_t lookup = U32(descriptor);
        const std::uint32_t name = U32(descriptor + 12);
        const std::uint32_t address = U32(descriptor + 16);
        if (name == 0 && address == 0) {
            break;
        }
        ImportedModule module{CString(RvaToOffset(name)), {}};
        const std::size_t thunkSize = is64_ ? 8 : 4;
        for (std::size_t thunk = RvaToOffset(lookup != 0 ? lookup : address);; thunk += thunkSize) {
            const std::uint64_t value = is64_ ? U64(thunk) : U32(thunk);
            if (value == 0) {
                break;
            }
            const std::uint64_t ordinalFlag = is64_ ? (std::uint64_t{1} << 63) : (std::uint64_t{1} << 31);
            if ((value & ordinalFlag) != 0) {
                std::string ordinal(1, '#'); // appended, not "#" + ...: GCC 12 warns falsely on that
                ordinal += std::to_string(value & 0xFFFF);
                module.functions.push_back(std::move(ordinal));
            } else {
                module.functions.push_back(CString(RvaToOffset(static_cast<std::uint32_t>(value)) + 2));
            }
        }
        modules.push_back(std::move(module));
    }
    return modules;
}

std::optional<ExportTable> Image::Exports() const
{
    const auto [rva, size] = DataDirectory(0);
    if (rva == 0 || size == 0) {
        return std::nullopt;
    }
    const std::size_t directory = RvaToOffset(rva);
    ExportTable table;
    table.moduleName = CString(RvaToOffset(U32(directory + 12)));
    table.ordinalBase = U32(directory + 16);
    const std::uint32_t functionCount = U32(directory + 20);
    const std::uint32_t nameCount = U32(directory + 24);
    const std::size_t functions = functionCount != 0 ? RvaToOffset(U32(directory + 28)) : 0;
    const std::size_t names = nameCount != 0 ? RvaToOffset(U32(directory + 32)) : 0;
    const std::size_t nameOrdinals = nameCount != 0 ? RvaToOffset(U32(directory + 36)) : 0;

    std::map<std::uint32_t, std::string> nameOf;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        const std::size_t n = i;
        nameOf[U16(nameOrdinals + n * 2)] = CString(RvaToOffset(U32(names + n * 4)));
    }
    for (std::uint32_t i = 0; i < functionCount; ++i) {
        const std::uint32_t address = U32(functions + static_cast<std::size_t>(i) * 4);
        if (address == 0) {
            continue; // a gap in the ordinal range
        }
        auto name = nameOf.find(i);
        table.entries.push_back({table.ordinalBase + i, name != nameOf.end() ? name->second : std::string{}, address});
    }
    return table;
}

namespace {

// One node of the version resource tree: length, value, key and children, as laid out by the resource compiler.
struct VersionNode {
    std::string key;
    std::size_t valueOffset = 0;
    std::size_t valueBytes = 0;
    bool text = false;
    std::vector<std::size_t> children;
};

} // namespace

std::optional<VersionResource> Image::Version() const
{
    const auto [rva, size] = DataDirectory(2);
    if (rva == 0 || size == 0) {
        return std::nullopt;
    }
    const std::size_t root = RvaToOffset(rva);
    // Looks up an entry by id in a resource directory; 0 takes the first entry. Returns its target offset.
    auto entry = [&](std::size_t directory, std::uint32_t id) -> std::optional<std::uint32_t> {
        const std::size_t count = std::size_t{U16(directory + 12)} + U16(directory + 14);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t item = directory + 16 + i * 8;
            if (id == 0 || U32(item) == id) {
                return U32(item + 4);
            }
        }
        return std::nullopt;
    };
    auto typeEntry = entry(root, kResourceTypeVersion);
    if (!typeEntry || (*typeEntry & 0x80000000u) == 0) {
        return std::nullopt;
    }
    auto nameEntry = entry(root + (*typeEntry & 0x7FFFFFFF), 0);
    if (!nameEntry || (*nameEntry & 0x80000000u) == 0) {
        throw FormatError("version resource has no language level");
    }
    auto languageEntry = entry(root + (*nameEntry & 0x7FFFFFFF), 0);
    if (!languageEntry || (*languageEntry & 0x80000000u) != 0) {
        throw FormatError("version resource has no data entry");
    }
    const std::size_t dataEntry = root + *languageEntry;
    const std::size_t blob = RvaToOffset(U32(dataEntry));
    const std::size_t blobEnd = blob + U32(dataEntry + 4);
    if (blobEnd > bytes_.size()) {
        throw FormatError("version resource runs past the file");
    }

    auto wideString = [&](std::size_t offset, std::size_t limit) {
        std::string text;
        for (; offset + 1 < limit && U16(offset) != 0; offset += 2) {
            const std::uint16_t c = U16(offset);
            text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return text;
    };
    auto node = [&](std::size_t offset) {
        const std::size_t length = U16(offset);
        const std::size_t end = offset + length;
        if (length < 6 || end > blobEnd) {
            throw FormatError("version resource node out of bounds");
        }
        VersionNode result;
        result.key = wideString(offset + 6, end);
        result.text = U16(offset + 4) == 1;
        result.valueOffset = Align4(offset + 6 + (result.key.size() + 1) * 2);
        result.valueBytes = std::size_t{U16(offset + 2)} * (result.text ? 2 : 1);
        for (std::size_t child = Align4(result.valueOffset + result.valueBytes); child + 6 <= end;) {
            const std::size_t childLength = U16(child);
            if (childLength == 0) {
                break;
            }
            result.children.push_back(child);
            child = Align4(child + childLength);
        }
        return result;
    };

    const VersionNode top = node(blob);
    if (top.key != "VS_VERSION_INFO" || top.valueBytes < 52 || U32(top.valueOffset) != 0xFEEF04BD) {
        throw FormatError("not a VS_VERSION_INFO resource");
    }
    VersionResource version;
    auto number = [&](std::size_t offset) {
        VersionNumber n;
        const std::uint32_t high = U32(offset);
        const std::uint32_t low = U32(offset + 4);
        n.parts[0] = static_cast<std::uint16_t>(high >> 16);
        n.parts[1] = static_cast<std::uint16_t>(high);
        n.parts[2] = static_cast<std::uint16_t>(low >> 16);
        n.parts[3] = static_cast<std::uint16_t>(low);
        return n;
    };
    version.fileVersion = number(top.valueOffset + 8);
    version.productVersion = number(top.valueOffset + 16);

    for (std::size_t childOffset : top.children) {
        const VersionNode child = node(childOffset);
        if (child.key == "StringFileInfo") {
            for (std::size_t tableOffset : child.children) {
                const VersionNode table = node(tableOffset);
                auto& strings = version.stringTables[table.key];
                for (std::size_t stringOffset : table.children) {
                    const VersionNode item = node(stringOffset);
                    strings[item.key] = wideString(item.valueOffset, item.valueOffset + item.valueBytes);
                }
            }
        } else if (child.key == "VarFileInfo") {
            for (std::size_t varOffset : child.children) {
                const VersionNode var = node(varOffset);
                if (var.key != "Translation") {
                    continue;
                }
                for (std::size_t at = var.valueOffset; at + 4 <= var.valueOffset + var.valueBytes; at += 4) {
                    version.translations.push_back({U16(at), U16(at + 2)});
                }
            }
        }
    }
    return version;
}

std::uint32_t Checksum(const std::vector<std::uint8_t>& bytes, std::size_t checksumOffset)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2) {
            continue;
        }
        const std::uint32_t low = bytes[i];
        const std::uint32_t high = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        sum += low | (high << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + bytes.size());
}

void Image::SetSectionCharacteristics(const std::string& name, std::uint32_t characteristics)
{
    for (Section& section : sections_) {
        if (section.name == name) {
            section.characteristics = characteristics;
            PutU32(section.headerOffset + 36, characteristics);
            return;
        }
    }
    throw FormatError("no section " + name);
}

void Image::WriteChecksum() { PutU32(ChecksumOffset(), ComputeChecksum()); }

std::uint16_t Image::U16(std::size_t offset) const
{
    if (offset + 2 > bytes_.size() || offset + 2 < offset) {
        throw FormatError("read past the end of the file");
    }
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

std::uint32_t Image::U32(std::size_t offset) const
{
    return U16(offset) | (static_cast<std::uint32_t>(U16(offset + 2)) << 16);
}

std::uint64_t Image::U64(std::size_t offset) const
{
    return U32(offset) | (static_cast<std::uint64_t>(U32(offset + 4)) << 32);
}

void Image::PutU32(std::size_t offset, std::uint32_t value)
{
    (void)U32(offset); // bounds check
    for (int i = 0; i < 4; ++i) {
        bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::string Image::CString(std::size_t offset) const
{
    std::string text;
    for (;; ++offset) {
        if (offset >= bytes_.size()) {
            throw FormatError("unterminated string");
        }
        if (bytes_[offset] == 0) {
            return text;
        }
        text.push_back(static_cast<char>(bytes_[offset]));
    }
}

std::size_t Image::RvaToOffset(std::uint32_t rva) const
{
    for (const Section& section : sections_) {
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize) {
            return std::size_t{section.rawOffset} + (rva - section.virtualAddress);
        }
    }
    throw FormatError("RVA outside every section's file data");
}

std::pair<std::uint32_t, std::uint32_t> Image::DataDirectory(unsigned index) const
{
    const std::size_t countOffset = optionalHeader_ + (is64_ ? 108 : 92);
    if (index >= U32(countOffset)) {
        return {0, 0};
    }
    const std::size_t entry = countOffset + 4 + static_cast<std::size_t>(index) * 8;
    return {U32(entry), U32(entry + 4)};
}

std::string DescribeCharacteristics(std::uint32_t characteristics)
{
    static const std::pair<std::uint32_t, const char*> kNames[] = {
        {kScnCode, "CODE"},           {kScnInitializedData, "DATA"}, {kScnDiscardable, "DISCARDABLE"},
        {kScnNotPaged, "NOT_PAGED"},  {kScnExecute, "EXECUTE"},      {kScnRead, "READ"},
        {kScnWrite, "WRITE"},
    };
    std::string text;
    for (const auto& [bit, name] : kNames) {
        if ((characteristics & bit) != 0) {
            text += text.empty() ? "" : "|";
            text += name;
        }
    }
    return text;
}

} // namespace pe
