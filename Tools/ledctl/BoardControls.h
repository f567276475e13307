// What the tool can do to the board beyond the library: the controls of a virtual board, or their absence.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ledctl {

// Where the W836x7 chip answers: at the index/data pair 0x2E/0x2F or 0x4E/0x4F, or not at all.
enum class ChipPlace { At2E, At4E, Absent };

std::string PlaceName(ChipPlace place);  // "0x2E/0x2F", "0x4E/0x4F", "absent"

// One byte-wide I/O port operation, as a trace shows it.
struct PortAccess {
    std::uint16_t port = 0;
    bool isWrite = false;
    std::uint8_t value = 0;  // written, or read back
};
using PortTraceSink = std::function<void(const PortAccess&)>;

// The result of a board control: done, or the reason it was not. The detail is for a person to read.
struct BoardOutcome {
    bool done = true;
    std::string detail;

    static BoardOutcome Done(std::string detail = {}) { return {true, std::move(detail)}; }
    static BoardOutcome Failed(std::string detail) { return {false, std::move(detail)}; }
};

class BoardControls {
public:
    virtual ~BoardControls() = default;

    // False where the LEDs are real hardware: every control then fails and says why.
    virtual bool Available() const = 0;
    virtual std::string Describe() const = 0;  // what the tool runs on, one line

    virtual std::optional<ChipPlace> Placement() const = 0;
    // The machine starts afresh with the chip at this place: driver loaded, device added and started. Any
    // library connection must be closed first: the library starts anew in the new machine's process.
    virtual BoardOutcome PlaceChip(ChipPlace place) = 0;

    virtual BoardOutcome Sleep() = 0;      // system sleep (S3); the chip loses power meanwhile
    virtual BoardOutcome Hibernate() = 0;  // hibernation (S4); the chip loses power meanwhile
    virtual BoardOutcome Wake() = 0;       // back to the working state (S0)
    virtual BoardOutcome StopDevice() = 0;
    virtual BoardOutcome StartDevice() = 0;

    // The levels the chip drives on the LED pins (GPIO port 1), when the tool can see the chip.
    virtual std::optional<std::uint8_t> ChipOutputs() = 0;
    // The driver's debug text since the last call, one message per entry.
    virtual std::vector<std::string> TakeDriverMessages() = 0;
    // Every port operation from now on goes to the sink; an empty sink stops tracing.
    virtual BoardOutcome TracePorts(PortTraceSink sink) = 0;
    // Copies the driver's debug text to stderr as it is written.
    virtual BoardOutcome EchoDriverDebug(bool on) = 0;
};

// Real LEDs: the tool reaches them only through the library, so every board control says it is not there.
class NoBoardControls final : public BoardControls {
public:
    explicit NoBoardControls(std::string description) : description_(std::move(description)) {}

    bool Available() const override { return false; }
    std::string Describe() const override { return description_; }
    std::optional<ChipPlace> Placement() const override { return std::nullopt; }
    BoardOutcome PlaceChip(ChipPlace) override { return Unavailable(); }
    BoardOutcome Sleep() override { return Unavailable(); }
    BoardOutcome Hibernate() override { return Unavailable(); }
    BoardOutcome Wake() override { return Unavailable(); }
    BoardOutcome StopDevice() override { return Unavailable(); }
    BoardOutcome StartDevice() override { return Unavailable(); }
    std::optional<std::uint8_t> ChipOutputs() override { return std::nullopt; }
    std::vector<std::string> TakeDriverMessages() override { return {}; }
    BoardOutcome TracePorts(PortTraceSink) override { return Unavailable(); }
    BoardOutcome EchoDriverDebug(bool) override { return Unavailable(); }

private:
    static BoardOutcome Unavailable() {
        return BoardOutcome::Failed("board controls need the virtual board; here the LEDs are real");
    }

    std::string description_;
};

}  // namespace ledctl
