// Test client: Windows' own checksum routine (imagehlp) on an image, as an oracle for the build's checksum.
#include <windows.h>
#include <imagehlp.h>

#include <cstdio>

// Usage: imagecheck FILE — prints "stored=0x... computed=0x...".
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: imagecheck FILE\n");
        return 2;
    }
    DWORD stored = 0;
    DWORD computed = 0;
    const DWORD result = MapFileAndCheckSumA(argv[1], &stored, &computed);
    if (result != CHECKSUM_SUCCESS) {
        std::fprintf(stderr, "imagecheck: MapFileAndCheckSumA failed with %lu\n", result);
        return 1;
    }
    std::printf("stored=0x%08lX computed=0x%08lX\n", stored, computed);
    return 0;
}
