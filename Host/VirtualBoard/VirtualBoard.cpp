// The virtual board: what tests, ledctl and benchmarks stand on.
#include "VirtualBoard.h"

#include "TamLEDConnection.h"

namespace vboard {
namespace {

// The driver image's writable data as the loader maps it, captured before anything ran.
struct DriverImageData {
    LONG sioIndexPort = g_SioIndexPort;
    LONG sioDataPort = g_SioDataPort;
    UNICODE_STRING registryPath = g_RegistryPath;
};
const DriverImageData g_pristineImage;

// The client library's data as a process that loads it maps it.
struct LibraryImageData {
    LED_CONNECTION* connection = g_pConnection;
    LONG connectionHandle = g_ConnectionHandle;
    LONG nextConnectionNumber = g_NextConnectionNumber;
};
const LibraryImageData g_pristineLibrary;

void MapFreshLibrary() {
    g_pConnection = g_pristineLibrary.connection;
    g_ConnectionHandle = g_pristineLibrary.connectionHandle;
    g_NextConnectionNumber = g_pristineLibrary.nextConnectionNumber;
    g_CallLock = 0;
}

void MapFreshImage() {
    g_SioIndexPort = g_pristineImage.sioIndexPort;
    g_SioDataPort = g_pristineImage.sioDataPort;
    g_RegistryPath = g_pristineImage.registryPath;
}

}  // namespace

VirtualBoard::VirtualBoard(BoardOptions options)
    : ports_(std::make_unique<board::PortBus>()), chip_(options.placement) {
    ports_->Attach(chip_);
    kernel_.AttachPorts(ports_.get());
    rootBus_ = std::make_unique<host::RootBus>();
    pnp_ = std::make_unique<host::PnpManager>(*rootBus_);
    power_ = std::make_unique<host::PowerManager>(*rootBus_);
    StartNewProcess();
    using Stage = BoardOptions::Stage;
    if (options.stage >= Stage::Loaded && !NT_SUCCESS(Load())) {
        return;
    }
    if (options.stage >= Stage::Added && !NT_SUCCESS(Add())) {
        return;
    }
    if (options.stage >= Stage::Started) {
        pnp_->StartDevice();
    }
}

VirtualBoard::~VirtualBoard() {
    process_.reset();
    if (Device() != nullptr && rootBus_->Pdo() != nullptr) {
        Remove();
    }
    if (pnp_->Loaded()) {
        Unload();
    }
    rootBus_.reset();
    kernel_.AttachPorts(nullptr);
}

NTSTATUS VirtualBoard::Load(std::u16string_view registryPath) {
    MapFreshImage();
    return pnp_->LoadDriver(DriverEntry, u"OrvLED", registryPath);
}

void VirtualBoard::StartNewProcess() {
    process_.reset();
    MapFreshLibrary();
    process_ = std::make_unique<host::Win32Process>();
}

NTSTATUS VirtualBoard::Add() { return pnp_->AddDevice(); }

PDEVICE_OBJECT VirtualBoard::Device() { return kernel_.Io().FindDevice(u"\\Device\\OrvLED"); }

PDEVICE_EXTENSION VirtualBoard::Extension() {
    PDEVICE_OBJECT device = Device();
    return device == nullptr ? nullptr : static_cast<PDEVICE_EXTENSION>(device->DeviceExtension);
}

std::optional<host::FileHandle> VirtualBoard::Open(NTSTATUS* status) {
    NTSTATUS ignored;
    return kernel_.Io().Open(u"\\\\.\\OrvLEDDev", status != nullptr ? status : &ignored);
}

}  // namespace vboard
