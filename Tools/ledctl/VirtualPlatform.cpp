// The Linux side of the platform seam: the virtual board and the library linked against the stand-in kernel32.
#include "VirtualPlatform.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ledctl {
namespace {

board::ChipPlacement ToPlacement(ChipPlace place) {
    switch (place) {
    case ChipPlace::At2E: return board::ChipPlacement::At2E;
    case ChipPlace::At4E: return board::ChipPlacement::At4E;
    case ChipPlace::Absent: break;
    }
    return board::ChipPlacement::Absent;
}

std::string StatusText(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

bool LocaleTakesUtf8() {
    // The first of these that is set decides, as for the C library's own choice of character set.
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            std::string lower(value);
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
        }
    }
    return false;
}

}  // namespace

VirtualBoardControls::VirtualBoardControls(ChipPlace place) : place_(place) { PlaceChip(place); }

VirtualBoardControls::~VirtualBoardControls() = default;

std::string VirtualBoardControls::Describe() const {
    if (place_ == ChipPlace::Absent) {
        return "a virtual board without a W836x7 chip";
    }
    return "a virtual board with a W836x7 chip at " + PlaceName(place_);
}

BoardOutcome VirtualBoardControls::PlaceChip(ChipPlace place) {
    board_.reset();  // one kernel at a time: the old machine goes before the new one comes
    place_ = place;
    suspendedIn_.reset();
    board_ = std::make_unique<vboard::VirtualBoard>(
        vboard::BoardOptions{ToPlacement(place), vboard::BoardOptions::Stage::Added});
    board_->Kernel().Debug().EchoTo(echoDebug_);
    AttachTrace();
    return StartAsTheSystemDoes("OrvLED started its device");
}

BoardOutcome VirtualBoardControls::StartAsTheSystemDoes(std::string startedText) {
    const host::IoResult result = board_->Pnp().StartDevice();
    if (!NT_SUCCESS(result.status)) {
        return BoardOutcome::Failed("the driver's start failed with status " + StatusText(result.status) +
                                    "; the system removed the device");
    }
    return BoardOutcome::Done(std::move(startedText));
}

BoardOutcome VirtualBoardControls::Suspend(host::IoResult (host::PowerManager::*request)(), const std::string& state) {
    if (suspendedIn_) {
        return BoardOutcome::Failed("the system is already in " + *suspendedIn_ + "; wake it first");
    }
    const host::IoResult result = (board_->Power().*request)();
    if (!NT_SUCCESS(result.status)) {
        return BoardOutcome::Failed("the power request failed with status " + StatusText(result.status));
    }
    board_->Chip().Reset();  // the chip's supply is off until the system works again
    suspendedIn_ = state;
    return BoardOutcome::Done("the system is in " + state + " and the chip has lost power");
}

BoardOutcome VirtualBoardControls::Sleep() { return Suspend(&host::PowerManager::Sleep, "S3"); }

BoardOutcome VirtualBoardControls::Hibernate() { return Suspend(&host::PowerManager::Hibernate, "S4"); }

BoardOutcome VirtualBoardControls::Wake() {
    if (!suspendedIn_) {
        return BoardOutcome::Failed("the system is not asleep");
    }
    const host::IoResult result = board_->Power().WakeFromSleep();
    if (!NT_SUCCESS(result.status)) {
        return BoardOutcome::Failed("the power request failed with status " + StatusText(result.status));
    }
    suspendedIn_.reset();
    return BoardOutcome::Done("the system is working again (S0)");
}

BoardOutcome VirtualBoardControls::StopDevice() {
    if (board_->Device() == nullptr) {
        return BoardOutcome::Failed("there is no OrvLED device on this board");
    }
    const host::IoResult result = board_->Stop();
    if (!NT_SUCCESS(result.status)) {
        return BoardOutcome::Failed("the stop request failed with status " + StatusText(result.status));
    }
    return BoardOutcome::Done("the LED device is stopped");
}

BoardOutcome VirtualBoardControls::StartDevice() {
    if (board_->Device() == nullptr) {
        return BoardOutcome::Failed("there is no OrvLED device on this board");
    }
    return StartAsTheSystemDoes("the LED device is started");
}

std::vector<std::string> VirtualBoardControls::TakeDriverMessages() {
    host::DebugLog& log = board_->Kernel().Debug();
    std::vector<std::string> messages = log.Messages();
    log.Clear();
    return messages;
}

BoardOutcome VirtualBoardControls::TracePorts(PortTraceSink sink) {
    trace_ = std::move(sink);
    AttachTrace();
    return BoardOutcome::Done();
}

BoardOutcome VirtualBoardControls::EchoDriverDebug(bool on) {
    echoDebug_ = on;
    board_->Kernel().Debug().EchoTo(on);
    return BoardOutcome::Done();
}

void VirtualBoardControls::AttachTrace() {
    if (trace_) {
        board_->Ports().SetListener(&VirtualBoardControls::OnPortOperation, this);
    } else {
        board_->Ports().SetListener(nullptr, nullptr);
    }
}

void VirtualBoardControls::OnPortOperation(void* context, const board::PortOperation& operation) {
    auto* self = static_cast<VirtualBoardControls*>(context);
    self->trace_(PortAccess{operation.port, operation.direction == board::PortDirection::Out, operation.value});
}

VirtualPlatform::VirtualPlatform() {
    library_.deviceOpen = LED_DeviceOpen;
    library_.deviceClose = LED_DeviceClose;
    library_.getCount = LED_GetCount;
    library_.getStatus = LED_GetStatus;
    library_.on = LED_On;
    library_.off = LED_Off;
    library_.getErrorMessage = LED_GetErrorMessage;
}

std::unique_ptr<Platform> OpenPlatform() { return std::make_unique<VirtualPlatform>(); }

TerminalFacts DetectTerminal() {
    const bool outputIsTerminal = isatty(STDOUT_FILENO) == 1;
    return TerminalFacts{isatty(STDIN_FILENO) == 1, outputIsTerminal, outputIsTerminal && LocaleTakesUtf8()};
}

}  // namespace ledctl
