// Counted strings, the registry, pool and the fault injector of the stand-in kernel.
#include <gtest/gtest.h>

#include "Kernel.h"
#include "KernelTestSupport.h"
#include "NtKernel.h"
#include "Text.h"

namespace {

using testsupport::ExpectViolation;

class RtlTest : public testing::Test {
protected:
    host::Kernel kernel_;
};

TEST_F(RtlTest, CopyUnicodeStringCutsAtTheDestinationAndTerminatesWhenThereIsRoom) {
    UNICODE_STRING source;
    RtlInitUnicodeString(&source, u"ABCDEF");
    EXPECT_EQ(source.Length, 12);
    EXPECT_EQ(source.MaximumLength, 14);

    const struct {
        USHORT maximum;
        std::u16string_view copied;
        bool terminated;
    } cases[] = {{20, u"ABCDEF", true}, {14, u"ABCDEF", true}, {12, u"ABCDEF", false}, {6, u"ABC", false}};
    for (const auto& c : cases) {
        char16_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        UNICODE_STRING destination{0, c.maximum, buffer};
        RtlCopyUnicodeString(&destination, &source);
        EXPECT_EQ(host::View(destination), c.copied);
        EXPECT_EQ(buffer[c.copied.size()], c.terminated ? u'\0' : u'#') << "maximum " << c.maximum;
    }
}

TEST_F(RtlTest, RegistryWriteNeedsAnExistingKeyAndCanBeToldToFail) {
    ULONG value = 1;
    const char16_t* key = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\OrvLED";
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, key, u"ChipsetType", REG_DWORD, &value, 4),
              STATUS_OBJECT_NAME_NOT_FOUND);
    kernel_.Reg().CreateKey(u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\OrvLED");
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, key, u"ChipsetType", REG_DWORD, &value, 4),
              STATUS_SUCCESS);
    auto stored = kernel_.Reg().Value(key, u"chipsettype");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<uint32_t>(REG_DWORD));
    EXPECT_EQ(stored->AsDword(), 1u);

    kernel_.Faults().FailNext("RtlWriteRegistryValue", STATUS_ACCESS_DENIED);
    value = 2;
    EXPECT_EQ(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, key, u"ChipsetType", REG_DWORD, &value, 4),
              STATUS_ACCESS_DENIED);
    EXPECT_EQ(kernel_.Reg().Value(key, u"ChipsetType")->AsDword(), 1u);
}

TEST_F(RtlTest, FaultInjectorFailsOnceOnTheNthCallOrAlways) {
    auto& faults = kernel_.Faults();
    faults.FailCall("R", 3, 11);
    faults.FailNext("S", 12);
    std::vector<int32_t> r, s;
    for (int i = 0; i < 4; ++i) {
        r.push_back(faults.Check("R"));
        s.push_back(faults.Check("S"));
    }
    EXPECT_EQ(r, (std::vector<int32_t>{0, 0, 11, 0}));
    EXPECT_EQ(s, (std::vector<int32_t>{12, 0, 0, 0}));
    faults.FailAlways("R", 13);
    EXPECT_EQ(faults.Check("R"), 13);
    EXPECT_EQ(faults.Check("R"), 13);
    faults.Clear("R");
    EXPECT_EQ(faults.Check("R"), 0);
    EXPECT_EQ(faults.Calls("R"), 7u);
    EXPECT_EQ(faults.Calls("never"), 0u);
}

TEST_F(RtlTest, PoolTracksTagsAndCatchesBadFrees) {
    void* block = ExAllocatePoolWithTag(PagedPool, 32, 0x4D494C47);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(kernel_.Memory().Outstanding().size(), 1u);
    EXPECT_EQ(kernel_.Memory().Outstanding()[0].tag, 0x4D494C47u);
    {
        ExpectViolation expect(kernel_, "BAD_POOL_CALLER");
        ExFreePoolWithTag(block, 0x11111111);
    }
    EXPECT_EQ(kernel_.Memory().Outstanding().size(), 1u);
    ExFreePoolWithTag(block, 0x4D494C47);
    EXPECT_TRUE(kernel_.Memory().Outstanding().empty());
    {
        ExpectViolation expect(kernel_, "BAD_POOL_CALLER");
        ExFreePoolWithTag(block, 0);
    }
    kernel_.Faults().FailNext("ExAllocatePoolWithTag", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, 1), nullptr);
    EXPECT_EQ(kernel_.Memory().Allocations(), 1u);
}

TEST_F(RtlTest, DbgPrintFormatsAsTheKernelDoes) {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, u"\\REGISTRY\\MACHINE\\Services\\OrvLED");
    struct Case {
        std::string expected;
        std::function<void()> print;
    };
    const Case cases[] = {
        {"status = 0  x", [] { DbgPrint("status = %X  x", STATUS_SUCCESS); }},
        {"0xC0000034.", [] { DbgPrint("0x%X.", STATUS_OBJECT_NAME_NOT_FOUND); }},
        {"m = 0x5A \n\n", [] { DbgPrint("m = 0x%X \n\n", static_cast<unsigned>(UCHAR{0x5A})); }},
        {"262 bytes", [] { DbgPrint("%u bytes", 262u); }},
        {"RegistryPath=\"\\REGISTRY\\MACHINE\\Services\\OrvLED\".",
         [&path] { DbgPrint("RegistryPath=\"%wZ\".", &path); }},
        {"L\"GPIO10\"", [] { DbgPrint("L\"%ws\"", u"GPIO10"); }},
        {"00000000DEADBEEF", [] { DbgPrint("%p", reinterpret_cast<void*>(uintptr_t{0xDEADBEEF})); }},
        {"-5 00ff   ab 100%", [] { DbgPrint("%d %04x %4s %lu%%", -5, 255u, "ab", 100u); }},
        {"(null)", [] { DbgPrint("%wZ", static_cast<UNICODE_STRING*>(nullptr)); }},
    };
    for (const auto& c : cases) {
        kernel_.Debug().Clear();
        c.print();
        ASSERT_EQ(kernel_.Debug().Messages().size(), 1u);
        EXPECT_EQ(kernel_.Debug().Messages()[0], c.expected);
    }
}

}  // namespace
