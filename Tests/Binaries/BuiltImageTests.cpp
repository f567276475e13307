// The shipped images as built: machine, subsystem, entry point, sections, imports, exports, checksum and
// version resource, each read from the file itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "BuiltImages.h"
#include "PeImage.h"

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

enum class Kind { Driver, Library };

struct ShippedImage {
    const char* tree;
    const char* file;
    Kind kind;
    std::uint16_t machine;
    // Every module the image may import from (lower case), and the functions it may import, if limited.
    std::set<std::string> allowedModules;
    std::set<std::string> allowedFunctions;
    pe::VersionNumber version;
    std::map<std::string, std::string> versionStrings;

    // Names the image in test names and messages instead of dumping its bytes.
    friend void PrintTo(const ShippedImage& image, std::ostream* out) { *out << image.tree << "/" << image.file; }
};

const std::set<std::string> kLibraryFunctions = {"GlobalAlloc", "GlobalLock",      "GlobalUnlock", "GlobalFree",
                                                 "SetLastError", "CreateFileA", "DeviceIoControl", "CloseHandle"};

const std::map<std::string, std::string> kDriverStrings = {{"FileVersion", "1, 0, 1, 0"},
                                                           {"ProductVersion", "1, 0, 1, 0"},
                                                           {"InternalName", "OrvLED.sys"},
                                                           {"OriginalFilename", "OrvLED.sys"}};
const std::map<std::string, std::string> kLibraryStrings = {
    {"FileVersion", "1, 0, 0, 1"}, {"ProductVersion", "1, 0, 0, 1"}, {"FileDescription", "TamLED"},
    {"InternalName", "TamLED"},    {"ProductName", "TamLED"},        {"OriginalFilename", "TamLED.dll"}};

const ShippedImage kShipped[] = {
    {"windows-x64", "OrvLED.sys", Kind::Driver, pe::kMachineAmd64, {"ntoskrnl.exe", "hal.dll"}, {},
     {{1, 0, 1, 0}}, kDriverStrings},
    {"windows-x86", "TamLED.dll", Kind::Library, pe::kMachineI386, {"kernel32.dll"}, kLibraryFunctions,
     {{1, 0, 0, 1}}, kLibraryStrings},
    {"windows-x64", "TamLED.dll", Kind::Library, pe::kMachineAmd64, {"kernel32.dll"}, kLibraryFunctions,
     {{1, 0, 0, 1}}, kLibraryStrings},
};

class ShippedImageTest : public testing::TestWithParam<ShippedImage> {};

std::string ImageName(const testing::TestParamInfo<ShippedImage>& info)
{
    std::string name = std::string(info.param.tree) + "_" + info.param.file;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

TEST_P(ShippedImageTest, HeadersNameMachineSubsystemAndKind)
{
    const ShippedImage& expected = GetParam();
    LED_LOCATE_IMAGE_OR_RETURN(path, expected.tree, expected.file);
    const pe::Image image = pe::Image::Load(path);
    EXPECT_EQ(image.Machine(), expected.machine);
    EXPECT_EQ(image.Is64Bit(), expected.machine == pe::kMachineAmd64);
    constexpr std::uint16_t kFileDll = 0x2000;
    constexpr std::uint16_t kDynamicBase = 0x0040;
    constexpr std::uint16_t kNxCompat = 0x0100;
    EXPECT_EQ(image.DllCharacteristics() & (kDynamicBase | kNxCompat), kDynamicBase | kNxCompat);
    if (expected.kind == Kind::Driver) {
        EXPECT_EQ(image.Subsystem(), pe::kSubsystemNative);
        EXPECT_EQ(image.Characteristics() & kFileDll, 0) << "a driver is an executable image, not a DLL";
        EXPECT_NE(image.FindSection(".reloc"), nullptr) << "the loader relocates drivers";
    } else {
        EXPECT_EQ(image.Subsystem(), pe::kSubsystemGui);
        EXPECT_NE(image.Characteristics() & kFileDll, 0);
    }
}

TEST_P(ShippedImageTest, ChecksumIsSetAndRight)
{
    const ShippedImage& expected = GetParam();
    LED_LOCATE_IMAGE_OR_RETURN(path, expected.tree, expected.file);
    const pe::Image image = pe::Image::Load(path);
    if (expected.kind == Kind::Driver) {
        // Windows refuses to load a driver whose checksum does not match.
        EXPECT_NE(image.StoredChecksum(), 0u);
        EXPECT_EQ(image.StoredChecksum(), image.ComputeChecksum());
    } else {
        EXPECT_TRUE(image.StoredChecksum() == 0 || image.StoredChecksum() == image.ComputeChecksum());
    }
}

TEST_P(ShippedImageTest, SectionsKeepCodeAndDataApart)
{
    const ShippedImage& expected = GetParam();
    LED_LOCATE_IMAGE_OR_RETURN(path, expected.tree, expected.file);
    const pe::Image image = pe::Image::Load(path);
    for (const pe::Section& section : image.Sections()) {
        EXPECT_FALSE((section.characteristics & pe::kScnWrite) && (section.characteristics & pe::kScnExecute))
            << section.name << " is writable and executable: " << pe::DescribeCharacteristics(section.characteristics);
    }
    if (expected.kind != Kind::Driver) {
        return;
    }
    constexpr std::uint32_t kCode = pe::kScnCode | pe::kScnExecute | pe::kScnRead;
    const struct {
        const char* name;
        std::uint32_t required;
        std::uint32_t forbidden;
    } driverSections[] = {
        // DriverEntry: thrown away once it returned.
        {"INIT", kCode | pe::kScnDiscardable, pe::kScnWrite},
        // Create/close and unload: pageable, kept.
        {"PAGE", kCode, pe::kScnDiscardable | pe::kScnWrite | pe::kScnNotPaged},
        // Dispatch, chip access and LED routines: resident.
        {".text", kCode, pe::kScnDiscardable | pe::kScnWrite},
    };
    for (const auto& rule : driverSections) {
        const pe::Section* section = image.FindSection(rule.name);
        ASSERT_NE(section, nullptr) << "no section " << rule.name;
        const std::string flags = pe::DescribeCharacteristics(section->characteristics);
        EXPECT_EQ(section->characteristics & rule.required, rule.required) << rule.name << ": " << flags;
        EXPECT_EQ(section->characteristics & rule.forbidden, 0u) << rule.name << ": " << flags;
    }
    for (const pe::Section& section : image.Sections()) {
        if (section.name != "INIT" && section.name != ".reloc") {
            EXPECT_EQ(section.characteristics & pe::kScnDiscardable, 0u) << section.name << " must stay loaded";
        }
    }
}

TEST_P(ShippedImageTest, EntryPointIsTheRightRoutine)
{
    const ShippedImage& expected = GetParam();
    LED_LOCATE_IMAGE_OR_RETURN(path, expected.tree, expected.file);
    const pe::Image image = pe::Image::Load(path);
    const pe::Section* section = image.SectionAt(image.EntryPointRva());
    ASSERT_NE(section, nullptr) << "entry point outside every section";
    if (expected.kind == Kind::Driver) {
        EXPECT_EQ(section->name, "INIT") << "DriverEntry is initialisation code";
    } else {
        const auto exports = image.Exports();
        ASSERT_TRUE(exports.has_value());
        auto dllMain = std::find_if(exports->entries.begin(), exports->entries.end(),
                                    [](const pe::Export& e) { return e.name == "DllMain"; });
        ASSERT_NE(dllMain, exports->entries.end());
        EXPECT_EQ(image.EntryPointRva(), dllMain->rva) << "the DLL is entered at its exported DllMain";
    }
}

TEST_P(ShippedImageTest, ImportsOnlyFromItsPlatform)
{
    const ShippedImage& expected = GetParam();
    LED_LOCATE_IMAGE_OR_RETURN(path, expected.tree, expected.file);
    const pe::Image image = pe::Image::Load(path);
    const auto modules = image.Imports();
    ASSERT_FALSE(modules.empty());
    std::set<std::string> functions;
    for (const auto& module : modules) {
        EXPECT_TRUE(expected.allowedModules.contains(Lower(module.name))) << "imports from " << module.name;
        functions.insert(module.functions.begin(), module.functions.end());
    }
    if (!expected.allowedFunctions.empty()) {
        for (const std::string& function : functions) {
            EXPECT_TRUE(expected.allowedFunctions.contains(function)) << "imports " << function;
        }
    }
    if (expected.kind == Kind::Driver) {
        // Declared in Platform.h, imported through KernelImports.def: the seam mingw-w64 lacks.
        EXPECT_TRUE(functions.contains("IoSetDeviceInterfacePropertyData"));
        EXPECT_TRUE(functions.contains("IoCreateDevice"));
    } else {
        EXPECT_TRUE(functions.contains("DeviceIoControl"));
        EXPECT_TRUE(functions.contains("CreateFileA"));
    }
}

TEST_P(ShippedImageTest, ExportsExactlyTheInterface)
{
    const ShippedImage& expected = GetParam();
    LED_LOCATE_IMAGE_OR_RETURN(path, expected.tree, expected.file);
    const pe::Image image = pe::Image::Load(path);
    const auto exports = image.Exports();
    if (expected.kind == Kind::Driver) {
        EXPECT_FALSE(exports.has_value()) << "a driver exports nothing";
        return;
    }
    ASSERT_TRUE(exports.has_value());
    EXPECT_EQ(exports->moduleName, "TamLED.dll");
    EXPECT_EQ(exports->ordinalBase, 1u);
    const std::string getCount = image.Is64Bit() ? "?LED_GetCount@@YAJJPEAK@Z" : "?LED_GetCount@@YAJJPAK@Z";
    const std::vector<std::pair<std::uint32_t, std::string>> interface = {
        {1, "LED_DeviceClose"}, {2, "LED_DeviceOpen"}, {3, getCount}, {4, "LED_GetErrorMessage"},
        {5, "LED_GetStatus"},   {6, "LED_Off"},        {7, "LED_On"}, {8, "DllMain"}};
    std::vector<std::pair<std::uint32_t, std::string>> actual;
    std::set<std::uint32_t> addresses;
    for (const pe::Export& entry : exports->entries) {
        actual.emplace_back(entry.ordinal, entry.name);
        addresses.insert(entry.rva);
        const pe::Section* section = image.SectionAt(entry.rva);
        ASSERT_NE(section, nullptr) << entry.name;
        EXPECT_NE(section->characteristics & pe::kScnExecute, 0u) << entry.name << " does not point at code";
    }
    EXPECT_EQ(actual, interface);
    EXPECT_EQ(addresses.size(), interface.size()) << "two exports share one routine";
}

TEST_P(ShippedImageTest, VersionResourceCarriesTheRelease)
{
    const ShippedImage& expected = GetParam();
    LED_LOCATE_IMAGE_OR_RETURN(path, expected.tree, expected.file);
    const pe::Image image = pe::Image::Load(path);
    const auto version = image.Version();
    ASSERT_TRUE(version.has_value()) << "no version resource";
    EXPECT_EQ(version->fileVersion, expected.version);
    EXPECT_EQ(version->productVersion, expected.version);
    EXPECT_EQ(version->translations, (std::vector<pe::Translation>{{0x0409, 0x04B0}}));
    ASSERT_EQ(version->stringTables.size(), 1u);
    ASSERT_TRUE(version->stringTables.contains("040904B0") || version->stringTables.contains("040904b0"));
    const auto& strings = version->stringTables.begin()->second;
    for (const auto& [name, value] : expected.versionStrings) {
        auto found = strings.find(name);
        ASSERT_NE(found, strings.end()) << "no " << name;
        EXPECT_EQ(found->second, value) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedImageTest, testing::ValuesIn(kShipped), ImageName);

} // namespace
