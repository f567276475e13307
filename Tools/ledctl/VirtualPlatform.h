// The tool on Linux: TamLED linked in, running on a virtual board whose controls the tool may use.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform.h"
#include "VirtualBoard.h"

namespace ledctl {

class VirtualBoardControls final : public BoardControls {
public:
    explicit VirtualBoardControls(ChipPlace place = ChipPlace::At2E);
    ~VirtualBoardControls() override;
    VirtualBoardControls(const VirtualBoardControls&) = delete;
    VirtualBoardControls& operator=(const VirtualBoardControls&) = delete;

    vboard::VirtualBoard& Board() { return *board_; }

    bool Available() const override { return true; }
    std::string Describe() const override;
    std::optional<ChipPlace> Placement() const override { return place_; }
    BoardOutcome PlaceChip(ChipPlace place) override;
    BoardOutcome Sleep() override;
    BoardOutcome Hibernate() override;
    BoardOutcome Wake() override;
    BoardOutcome StopDevice() override;
    BoardOutcome StartDevice() override;
    std::optional<std::uint8_t> ChipOutputs() override { return board_->Chip().OutputLevels(); }
    std::vector<std::string> TakeDriverMessages() override;
    BoardOutcome TracePorts(PortTraceSink sink) override;
    BoardOutcome EchoDriverDebug(bool on) override;

private:
    static void OnPortOperation(void* context, const board::PortOperation& operation);
    void AttachTrace();
    BoardOutcome Suspend(host::IoResult (host::PowerManager::*request)(), const std::string& state);
    // The start request as the system sends it, and what became of the device.
    BoardOutcome StartAsTheSystemDoes(std::string startedText);

    ChipPlace place_;
    PortTraceSink trace_;
    bool echoDebug_ = false;
    std::optional<std::string> suspendedIn_;  // "S3" or "S4" while the system is not working
    std::unique_ptr<vboard::VirtualBoard> board_;
};

class VirtualPlatform final : public Platform {
public:
    VirtualPlatform();

    const LedLibrary& Library() const override { return library_; }
    BoardControls& Controls() override { return controls_; }
    vboard::VirtualBoard& Board() { return controls_.Board(); }

private:
    LedLibrary library_;
    VirtualBoardControls controls_;
};

}  // namespace ledctl
