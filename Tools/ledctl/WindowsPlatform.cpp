// The Windows side of the platform seam: TamLED.dll loaded at run time, and a board the tool cannot control.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

#include "Platform.h"

namespace ledctl {
namespace {

// The loaded DLL, freed with the platform.
class LoadedModule {
public:
    explicit LoadedModule(const char* name) : module_(LoadLibraryA(name)) {}
    ~LoadedModule() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    HMODULE Get() const { return module_; }

private:
    HMODULE module_;
};

template <typename Function>
bool Find(HMODULE module, const char* name, Function& function, std::string& missing) {
    // Through void*: an exported address becomes the pointer type the header gives the function.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function == nullptr && missing.empty()) {
        missing = std::string("TamLED.dll has no export ") + name;
    }
    return function != nullptr;
}

class DllPlatform final : public Platform {
public:
    DllPlatform() : module_("TamLED.dll") {
        if (module_.Get() == nullptr) {
            library_.unavailable = "cannot load TamLED.dll (error " + std::to_string(GetLastError()) + ")";
            return;
        }
        std::string missing;
        HMODULE module = module_.Get();
        Find(module, "LED_DeviceOpen", library_.deviceOpen, missing);
        Find(module, "LED_DeviceClose", library_.deviceClose, missing);
        Find(module, LED_GETCOUNT_EXPORT, library_.getCount, missing);  // exported only under this name
        Find(module, "LED_GetStatus", library_.getStatus, missing);
        Find(module, "LED_On", library_.on, missing);
        Find(module, "LED_Off", library_.off, missing);
        Find(module, "LED_GetErrorMessage", library_.getErrorMessage, missing);
        library_.unavailable = missing;
    }

    const LedLibrary& Library() const override { return library_; }
    BoardControls& Controls() override { return board_; }

private:
    LoadedModule module_;
    LedLibrary library_;
    NoBoardControls board_{"TamLED.dll and the installed OrvLED driver"};
};

}  // namespace

std::unique_ptr<Platform> OpenPlatform() { return std::make_unique<DllPlatform>(); }

TerminalFacts DetectTerminal() {
    const bool outputIsTerminal = _isatty(_fileno(stdout)) != 0;
    return TerminalFacts{_isatty(_fileno(stdin)) != 0, outputIsTerminal,
                         outputIsTerminal && GetConsoleOutputCP() == CP_UTF8};
}

}  // namespace ledctl
