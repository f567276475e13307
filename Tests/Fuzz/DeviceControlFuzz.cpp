// Fuzz target: device-control requests of any code, lengths and bytes, each checked against the contract and the chip.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"

namespace {

using Stage = vboard::BoardOptions::Stage;

constexpr uint8_t kCanary = 0xEE;  // fills the caller's output buffer, so bytes the request did not return show
constexpr uint32_t kMaxLength = 64 * 1024;  // the I/O manager allocates a system buffer of the larger length
constexpr int kMaxRequests = 64;

// Per access sequence: 14 preamble, 2 for the register, 3 postamble.
constexpr uint64_t kSequence = 19;

const ULONG kCodes[] = {IOCTL_LED_GET_COUNT,     IOCTL_LED_GET_STATUS,    IOCTL_LED_SET_STATUS,
                        IOCTL_LED_GET_DIRECTION, IOCTL_LED_SET_DIRECTION, 0x222454 /* function 0x915 */,
                        0x22243C /* function 0x90F */};

enum class Effect { None, Count, ReadStatus, ReadDirection, WriteStatus, WriteDirection };

struct Expected {
    NTSTATUS status = STATUS_INVALID_PARAMETER;
    ULONG_PTR information = 0;
    Effect effect = Effect::None;
    uint64_t portOperations = 0;
    bool reportsInput = false;  // Information is the input length, capped by a shorter non-empty output
};

bool Served(uint8_t port, ULONG ledCount) { return port < 8 && port < ledCount; }

// The contract, row by row: the first row that applies decides.
Expected Contract(ULONG code, ULONG in, ULONG out, bool buffer, uint8_t port, ULONG ledCount) {
    const NTSTATUS tooSmall = STATUS_BUFFER_TOO_SMALL;
    switch (code) {
    case IOCTL_LED_GET_COUNT:
        if (out < 4) return {tooSmall, 4};
        if (!buffer) return {STATUS_BUFFER_ALL_ZEROS, 4};
        return {STATUS_SUCCESS, 4, Effect::Count, 0};
    case IOCTL_LED_GET_STATUS:
        if (in < 2 || out < 2) return {tooSmall, 2};
        if (!buffer) return {STATUS_BUFFER_ALL_ZEROS, 2};
        if (!Served(port, ledCount)) return {STATUS_SUCCESS, 2, Effect::None, 0};  // value 0, chip untouched
        return {STATUS_SUCCESS, 2, Effect::ReadStatus, kSequence};
    case IOCTL_LED_GET_DIRECTION:
        if (in < 2 || out < 2) return {tooSmall, 2};
        if (!buffer) return {STATUS_BUFFER_ALL_ZEROS, 2};
        if (!Served(port, ledCount)) return {STATUS_INVALID_PARAMETER, 0};
        return {STATUS_SUCCESS, 2, Effect::ReadDirection, kSequence};
    case IOCTL_LED_SET_STATUS:
        if (in < 2) return {tooSmall, 2};
        if (!buffer) return {STATUS_BUFFER_ALL_ZEROS, 2};
        if (!Served(port, ledCount)) return {STATUS_INVALID_PARAMETER, 0};
        return {STATUS_SUCCESS, in, Effect::WriteStatus, 4 * kSequence, true};
    case IOCTL_LED_SET_DIRECTION:
        if (in < 2) return {tooSmall, 2};
        if (!buffer) return {STATUS_BUFFER_ALL_ZEROS, in, Effect::None, 0, true};
        if (!Served(port, ledCount)) return {STATUS_INVALID_PARAMETER, 0};
        return {STATUS_SUCCESS, in, Effect::WriteDirection, 2 * kSequence, true};
    default:
        return {STATUS_INVALID_PARAMETER, 0};
    }
}

// A set request reports its input length, but never more than a non-empty output buffer holds.
void RequireInformation(const Expected& expected, const host::IoResult& result, ULONG in, ULONG out) {
    if (expected.reportsInput && out != 0 && out < in) {
        FUZZ_REQUIRE(result.information <= out);
        return;
    }
    FUZZ_REQUIRE(result.information == expected.information);
}

uint32_t Length(fuzz::ByteReader& input) {
    const uint8_t choice = input.Byte();
    if (choice < 0xE0) {
        return choice & 0x0F;  // the lengths around the contract's minimums
    }
    return input.U16() % (kMaxLength + 1);
}

ULONG Code(fuzz::ByteReader& input) {
    const uint8_t choice = input.Byte();
    if (choice < 0xE0) {
        return kCodes[choice % std::size(kCodes)];
    }
    if (choice < 0xF0) {
        // An LED code with other method and access bits: a different code to the driver.
        const ULONG code = kCodes[choice % 5] & ~ULONG{0xC003};
        return code | (choice & 3u) | (static_cast<ULONG>((choice >> 2) & 3u) << 14);
    }
    return input.U32();
}

struct Chip {
    uint8_t latch;
    uint8_t direction;
};

Chip Snapshot(vboard::VirtualBoard& board) {
    return {board.Chip().OutputLatch(), board.Chip().Register(7, 0xF0)};
}

// One request as the input describes it.
struct Request {
    bool fromKernel;  // a kernel-mode sender's request, without a system buffer
    bool internal;    // kernel-mode senders may also use the internal major function, left to the system
    ULONG code;
    ULONG in;
    ULONG out;
    std::vector<uint8_t> bytes;  // the input buffer
    uint8_t port;
    uint8_t value;
};

Request Parse(fuzz::ByteReader& input) {
    Request request{};
    const uint8_t sender = input.Byte();
    request.fromKernel = (sender & 1) != 0;
    request.internal = request.fromKernel && (sender & 2) != 0;
    request.code = Code(input);
    request.in = Length(input);
    request.out = Length(input);
    request.bytes.assign(request.in, input.Byte());
    const auto chosen = input.Take(std::min<std::size_t>(request.in, input.Byte()));
    std::copy(chosen.begin(), chosen.end(), request.bytes.begin());
    request.port = request.in >= 1 ? request.bytes[0] : 0;
    request.value = request.in >= 2 ? request.bytes[1] : 0;
    return request;
}

host::IoResult Send(vboard::VirtualBoard& board, host::FileHandle handle, const Request& request,
                    std::vector<uint8_t>& output) {
    if (!request.fromKernel) {
        return board.Control(handle, request.code, request.bytes.data(), request.in, output.data(), request.out);
    }
    host::IrpSetup setup;
    setup.location.MajorFunction = request.internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    setup.location.Parameters.DeviceIoControl.IoControlCode = request.code;
    setup.location.Parameters.DeviceIoControl.InputBufferLength = request.in;
    setup.location.Parameters.DeviceIoControl.OutputBufferLength = request.out;
    return board.Io().Send(board.Device(), setup);
}

// Only the LED's own bit changes, and only by a set request.
void CheckChip(const Expected& expected, const Request& request, const Chip& before, const Chip& after) {
    const uint8_t mask = static_cast<uint8_t>(1u << (request.port & 7));
    switch (expected.effect) {
    case Effect::WriteStatus:
        FUZZ_REQUIRE(after.latch ==
                     static_cast<uint8_t>(request.value != 0 ? before.latch | mask : before.latch & ~mask));
        FUZZ_REQUIRE(after.direction == 0x00);  // the LED's pin is an output
        break;
    case Effect::WriteDirection:
        FUZZ_REQUIRE(after.latch == before.latch);
        FUZZ_REQUIRE(after.direction == (request.value != 0 ? mask : 0x00));
        break;
    default:
        FUZZ_REQUIRE(after.latch == before.latch);
        break;
    }
}

// What came back to a user-mode caller: the system buffer's first Information bytes, nothing for an error.
void CheckReply(const Expected& expected, const Request& request, const host::IoResult& result,
                const std::vector<uint8_t>& output, const Chip& before, ULONG ledCount) {
    const std::size_t returned = NT_ERROR(result.status) ? 0 : std::min<std::size_t>(result.information, request.out);
    for (std::size_t i = returned; i < request.out; ++i) {
        FUZZ_REQUIRE(output[i] == kCanary);
    }
    const uint8_t mask = static_cast<uint8_t>(1u << (request.port & 7));
    switch (expected.effect) {
    case Effect::Count: {
        ULONG count = 0;
        std::memcpy(&count, output.data(), sizeof count);
        FUZZ_REQUIRE(count == ledCount);
        break;
    }
    case Effect::ReadStatus:
        FUZZ_REQUIRE(output[0] == request.port);
        FUZZ_REQUIRE(output[1] == ((before.latch & mask) != 0 ? 1 : 0));
        break;
    case Effect::ReadDirection:
        FUZZ_REQUIRE(output[0] == request.port);
        FUZZ_REQUIRE(output[1] == 0);  // every access sequence makes all pins outputs first
        break;
    case Effect::None:
        if (request.code == IOCTL_LED_GET_STATUS && result.status == STATUS_SUCCESS) {
            FUZZ_REQUIRE(output[0] == request.port);  // an LED the device does not serve reads as off
            FUZZ_REQUIRE(output[1] == 0);
        }
        break;
    case Effect::WriteStatus:
    case Effect::WriteDirection:
        // Set requests write nothing: the caller gets its own bytes back.
        FUZZ_REQUIRE(std::equal(output.begin(), output.begin() + returned, request.bytes.begin()));
        break;
    }
}

void OneRequest(vboard::VirtualBoard& board, host::FileHandle handle, fuzz::ByteReader& input) {
    const Request request = Parse(input);
    const ULONG ledCount = board.Extension()->m_LEDCount;
    const Chip before = Snapshot(board);
    board.Ports().ClearTrace();
    std::vector<uint8_t> output(request.out, kCanary);

    const host::IoResult result = Send(board, handle, request, output);

    fuzz::RequirePassiveThread();
    fuzz::RequireCleanChip(board);
    const bool buffer = !request.fromKernel && (request.in != 0 || request.out != 0);
    const Expected expected = request.internal
                                  ? Expected{STATUS_INVALID_DEVICE_REQUEST, 0}
                                  : Contract(request.code, request.in, request.out, buffer, request.port, ledCount);
    FUZZ_REQUIRE(result.returned == result.status);  // completed before the dispatch routine returned
    FUZZ_REQUIRE(result.status == expected.status);
    RequireInformation(expected, result, request.in, request.out);
    FUZZ_REQUIRE(board.Ports().TraceCount() == expected.portOperations);
    CheckChip(expected, request, before, Snapshot(board));
    if (!request.fromKernel) {
        CheckReply(expected, request, result, output, before, ledCount);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::ByteReader input(data, size);
    const uint8_t setup = input.Byte();
    const auto placement = (setup & 2) != 0 ? board::ChipPlacement::At4E : board::ChipPlacement::At2E;
    vboard::VirtualBoard board({placement, (setup & 1) != 0 ? Stage::Added : Stage::Started});
    FUZZ_REQUIRE(board.Device() != nullptr);
    board.Chip().SetRegister(7, 0xF1, input.Byte());
    board.Chip().SetInputLevels(input.Byte());
    const auto handle = board.Open();
    FUZZ_REQUIRE(handle.has_value());

    for (int i = 0; i < kMaxRequests && !input.Empty(); ++i) {
        OneRequest(board, *handle, input);
    }
    FUZZ_REQUIRE(board.Io().Close(*handle) == STATUS_SUCCESS);
    FUZZ_REQUIRE(board.Io().RemoveLockHeld(&board.Extension()->m_RemoveLock) == 0);
    return 0;
}
