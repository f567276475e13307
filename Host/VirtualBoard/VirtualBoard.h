// A whole board in one object: the stand-in kernel, the port bus with the W836x7 chip, the root bus, and the
// OrvLED driver loaded, its device added and started.
#pragma once

#include <memory>
#include <optional>

#include "IoManager.h"
#include "Kernel.h"
#include "Managers.h"
#include "OrvLED.h"
#include "PortBus.h"
#include "RootBus.h"
#include "W836x7Chip.h"
#include "Win32Process.h"

namespace vboard {

inline constexpr char16_t kServiceKey[] = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\OrvLED";

struct BoardOptions {
    board::ChipPlacement placement = board::ChipPlacement::At2E;
    enum class Stage { Bare, Loaded, Added, Started } stage = Stage::Started;
};

class VirtualBoard {
public:
    explicit VirtualBoard(BoardOptions options = {});
    ~VirtualBoard();
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    host::Kernel& Kernel() { return kernel_; }
    board::PortBus& Ports() { return *ports_; }
    board::W836x7Chip& Chip() { return chip_; }
    host::RootBus& RootBus() { return *rootBus_; }
    host::PnpManager& Pnp() { return *pnp_; }
    host::PowerManager& Power() { return *power_; }
    host::IoManager& Io() { return kernel_.Io(); }
    // The user-mode process that runs applications and the client library: it starts with the board, and a
    // new one starts with fresh library data; ending it closes what it left open.
    host::Win32Process& Process() { return *process_; }
    void StartNewProcess();

    // The driver's life, as the system drives it. Load maps a fresh image: the driver's data starts anew.
    NTSTATUS Load(std::u16string_view registryPath = kServiceKey);
    NTSTATUS Add();
    // The start request alone; the board's own bring-up removes a device whose start fails, as the system does.
    host::IoResult Start() { return pnp_->Send(IRP_MN_START_DEVICE); }
    host::IoResult Stop() { return pnp_->Send(IRP_MN_STOP_DEVICE); }
    host::IoResult Remove() { return pnp_->Remove(); }
    void Unload() { pnp_->UnloadDriver(); }

    PDEVICE_OBJECT Device();  // OrvLED's device object, or null
    PDEVICE_EXTENSION Extension();

    // An application's view: open the device by its Win32 name and send it requests.
    std::optional<host::FileHandle> Open(NTSTATUS* status = nullptr);
    host::IoResult Control(host::FileHandle handle, ULONG code, const void* input, ULONG inputLength, void* output,
                           ULONG outputLength) {
        return kernel_.Io().DeviceControl(handle, code, input, inputLength, output, outputLength);
    }

private:
    host::Kernel kernel_;
    std::unique_ptr<board::PortBus> ports_;
    board::W836x7Chip chip_;
    std::unique_ptr<host::RootBus> rootBus_;
    std::unique_ptr<host::PnpManager> pnp_;
    std::unique_ptr<host::PowerManager> power_;
    std::unique_ptr<host::Win32Process> process_;
};

}  // namespace vboard
