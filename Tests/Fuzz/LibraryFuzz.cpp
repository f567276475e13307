// Fuzz target: sequences of TamLED calls, checked call by call against a model of the connection and the chip.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "Kernel32.h"
#include "TamLED.h"

namespace {

using Stage = vboard::BoardOptions::Stage;

constexpr int kMaxCalls = 64;
constexpr uint8_t kCanary = 0xEE;

enum Routine { GlobalAllocRoutine, CreateFileRoutine, DeviceIoControlRoutine, RoutineCount };
const char* const kRoutineNames[RoutineCount] = {"GlobalAlloc", "CreateFileA", "DeviceIoControl"};

const char* const kMessages[] = {
    "LED_SUCCESS: LED Operation Succeed",           "LED_Memory_Allocate_Failed: Not Enough Memory",
    "LED_OpenDevice_Failed: Open LED Device Failed", "LED_INVALID_HANDLE: Invalid Device Handle",
    "LED_INVALID_PORTNUM: Invalid LED Port Number",
};

// What the library holds for the process, as its contract describes it.
struct Connection {
    bool open = false;
    LED_LONG handle = 0;
    LED_ULONG count = 0;
    LED_IO_BUFFER buffer{0, 0};
};

class Calls {
public:
    Calls(fuzz::ByteReader& input, Stage stage) : input_(input), board_({board::ChipPlacement::At2E, stage}) {
        leds_ = board_.Chip().OutputLatch();
    }

    void Run() {
        for (int call = 0; call < kMaxCalls && !input_.Empty(); ++call) {
            Step();
            fuzz::RequirePassiveThread();
            fuzz::RequireCleanChip(board_);
            FUZZ_REQUIRE(board_.Chip().OutputLatch() == leds_);
            const std::size_t held = connection_.open ? 1 : 0;
            FUZZ_REQUIRE(board_.Process().OpenHandles() == held);
            FUZZ_REQUIRE(board_.Process().GlobalBlocks() == held);
        }
    }

private:
    void Step() {
        switch (input_.Byte() % 11) {
        case 0: Open(); break;
        case 1: Close(); break;
        case 2: GetCount(); break;
        case 3: GetStatus(); break;
        case 4:
        case 5: Switch(); break;
        case 6: Message(); break;
        case 7: Fail(); break;
        case 8: NewProcess(); break;
        case 9: BringUp(); break;
        default: System(); break;
        }
    }

    // The routine's next call fails when a failure is waiting for it.
    bool Fails(Routine routine) {
        if (pending_[routine] == 0) {
            return false;
        }
        --pending_[routine];
        return true;
    }

    LED_ULONG DriverCount() {
        PDEVICE_EXTENSION extension = board_.Extension();
        return extension == nullptr ? 0 : extension->m_LEDCount;
    }

    // The count request the library sends: a failed one leaves the count as it was.
    void CountRequest() {
        if (!Fails(DeviceIoControlRoutine)) {
            connection_.count = DriverCount();
        }
    }

    LED_LONG AnyHandle() {
        switch (input_.Byte() % 5) {
        case 0: return variables_[0];
        case 1: return variables_[1];
        case 2: return 0;
        case 3: return connection_.handle + 1;
        default: return static_cast<LED_LONG>(input_.U32());
        }
    }

    bool Live(LED_LONG handle) const { return handle != 0 && connection_.open && handle == connection_.handle; }

    void Open() {
        LED_LONG& variable = variables_[input_.Byte() & 1];
        variable = static_cast<LED_LONG>(input_.U32());
        const LED_LONG result = LED_DeviceOpen(&variable);
        if (!connection_.open) {
            if (Fails(GlobalAllocRoutine)) {
                FUZZ_REQUIRE(result == LED_Memory_Allocate_Failed && variable == 0);
                return;
            }
            const bool openable = board_.Io().FindDevice(u"\\\\.\\OrvLEDDev") != nullptr;
            if (Fails(CreateFileRoutine) || !openable) {
                FUZZ_REQUIRE(result == LED_OpenDevice_Failed && variable == 0);
                return;
            }
            // A new connection's handle is never the handle of one closed before.
            FUZZ_REQUIRE(variable > 0 && variable != lastHandle_);
            connection_ = Connection{true, variable, 0, {0, 0}};
            lastHandle_ = variable;
        }
        FUZZ_REQUIRE(result == LED_SUCCESS && variable == connection_.handle);
        CountRequest();
    }

    void Close() {
        LED_LONG variable = input_.Bool() ? variables_[input_.Byte() & 1] : static_cast<LED_LONG>(input_.U32());
        const LED_LONG before = variable;
        const LED_LONG result = LED_DeviceClose(&variable);
        FUZZ_REQUIRE(variable == before);
        if (before == 0) {
            FUZZ_REQUIRE(result == LED_INVALID_HANDLE);
            return;
        }
        FUZZ_REQUIRE(result == LED_SUCCESS);
        connection_.open = false;  // any non-zero variable ends the one connection
    }

    void GetCount() {
        const LED_LONG handle = AnyHandle();
        LED_ULONG count = 0xABCD1234;
        const LED_LONG result = LED_GetCount(handle, &count);
        if (!Live(handle)) {
            FUZZ_REQUIRE(result == LED_INVALID_HANDLE && count == 0xABCD1234);
            return;
        }
        CountRequest();
        FUZZ_REQUIRE(result == LED_SUCCESS && count == connection_.count);
    }

    // The driver's answer to a request for an index the library let through.
    bool DriverServes(uint8_t port) { return port < 8 && port < DriverCount(); }

    void GetStatus() {
        const LED_LONG handle = AnyHandle();
        const uint16_t index = Index();
        LED_ULONG state = 0xABCD1234;
        const LED_LONG result = LED_GetStatus(handle, index, &state);
        if (!Live(handle)) {
            FUZZ_REQUIRE(result == LED_INVALID_HANDLE && state == 0xABCD1234);
            return;
        }
        if (index >= connection_.count) {
            FUZZ_REQUIRE(result == LED_INVALID_PORTNUM && state == 0xABCD1234);
            return;
        }
        connection_.buffer.Port = static_cast<UCHAR>(index);
        if (!Fails(DeviceIoControlRoutine)) {
            const uint8_t port = connection_.buffer.Port;
            connection_.buffer.Value = DriverServes(port) && ((leds_ >> port) & 1) != 0 ? 1 : 0;
        }
        // A failed request leaves the value byte as the previous request left it.
        FUZZ_REQUIRE(result == LED_SUCCESS && state == connection_.buffer.Value);
    }

    void Switch() {
        const bool on = input_.Bool();
        const LED_LONG handle = AnyHandle();
        const uint16_t index = Index();
        const LED_LONG result = on ? LED_On(handle, index) : LED_Off(handle, index);
        if (!Live(handle)) {
            FUZZ_REQUIRE(result == LED_INVALID_HANDLE);
            return;
        }
        if (index >= connection_.count) {
            FUZZ_REQUIRE(result == LED_INVALID_PORTNUM);
            return;
        }
        FUZZ_REQUIRE(result == LED_SUCCESS);
        connection_.buffer = {static_cast<UCHAR>(index), static_cast<UCHAR>(on ? 1 : 0)};
        const uint8_t port = connection_.buffer.Port;
        if (!Fails(DeviceIoControlRoutine) && DriverServes(port)) {
            const uint8_t mask = static_cast<uint8_t>(1u << port);
            leds_ = static_cast<uint8_t>(on ? leds_ | mask : leds_ & ~mask);
        }
    }

    uint16_t Index() {
        const uint8_t choice = input_.Byte();
        return choice < 0xF0 ? static_cast<uint16_t>(choice % 10) : input_.U16();
    }

    void Message() {
        const uint8_t choice = input_.Byte();
        // The five codes and their neighbours, or any code at all.
        const LED_LONG code =
            choice < 0xF0 ? static_cast<LED_LONG>(choice % 7) - 1 : static_cast<LED_LONG>(input_.U32());
        // Exactly as large as callers promise, on the heap: a write past it is an AddressSanitizer report.
        std::vector<char> buffer(LED_MESSAGE_BUFFER_SIZE, static_cast<char>(kCanary));
        FUZZ_REQUIRE(LED_GetErrorMessage(code, buffer.data()) == LED_SUCCESS);
        std::size_t written = 0;
        if (code >= 0 && code < static_cast<LED_LONG>(std::size(kMessages))) {
            const std::string_view message = kMessages[code];
            written = message.size() + 1;
            FUZZ_REQUIRE(std::memcmp(buffer.data(), message.data(), written) == 0);  // with its terminating NUL
        }
        for (std::size_t i = written; i < buffer.size(); ++i) {
            FUZZ_REQUIRE(static_cast<uint8_t>(buffer[i]) == kCanary);
        }
    }

    void Fail() {
        const Routine routine = static_cast<Routine>(input_.Byte() % RoutineCount);
        // Win32 error codes; 0 would be no failure at all.
        const uint32_t error = input_.Bool() ? uint32_t{ERROR_NOT_ENOUGH_MEMORY} : (input_.U32() | 1u);
        board_.Kernel().Faults().FailNext(kRoutineNames[routine], static_cast<int32_t>(error));
        ++pending_[routine];
    }

    // A new process maps the library afresh; the old one's handles close as it ends.
    void NewProcess() {
        board_.StartNewProcess();
        connection_ = Connection{};
        lastHandle_ = 0;
    }

    // The system reports the device and starts it, one step at a time.
    void BringUp() {
        if (board_.Device() == nullptr) {
            FUZZ_REQUIRE(board_.Add() == STATUS_SUCCESS);
        } else if (DriverCount() == 0) {
            FUZZ_REQUIRE(board_.Start().status == STATUS_SUCCESS);
            leds_ = 0x00;  // a start clears the LEDs
        }
    }

    // The system around the application: a sleep, with the chip losing power or not, and the wake; or a stop and
    // a start of the device.
    void System() {
        const uint8_t choice = input_.Byte();
        if (board_.Device() == nullptr) {
            return;
        }
        if ((choice & 1) == 0) {
            FUZZ_REQUIRE(board_.Power().Sleep().status == STATUS_SUCCESS);
            if ((choice & 2) != 0) {
                board_.Chip().Reset();
            }
            FUZZ_REQUIRE(board_.Power().WakeFromSleep().status == STATUS_SUCCESS);
            return;  // the LEDs are back as they were
        }
        FUZZ_REQUIRE(board_.Stop().status == STATUS_SUCCESS);
        FUZZ_REQUIRE(board_.Start().status == STATUS_SUCCESS);
        leds_ = 0x00;  // a start clears the LEDs
    }

    fuzz::ByteReader& input_;
    vboard::VirtualBoard board_;
    uint8_t leds_ = 0;
    Connection connection_;
    LED_LONG lastHandle_ = 0;
    LED_LONG variables_[2] = {};
    int pending_[RoutineCount] = {};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::ByteReader input(data, size);
    const Stage stages[] = {Stage::Started, Stage::Added, Stage::Loaded};
    Calls calls(input, stages[input.Byte() % 3]);
    calls.Run();
    return 0;
}
