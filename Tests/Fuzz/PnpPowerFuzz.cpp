// Fuzz target: sequences of Plug and Play, power and device-control requests, ending in removal and unload.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"

namespace {

using Stage = vboard::BoardOptions::Stage;

constexpr int kMaxSteps = 48;
constexpr std::size_t kMaxHandles = 2;
constexpr uint32_t kRestoreWrites = 9;  // the first write and up to eight rewrites

const NTSTATUS kStatuses[] = {STATUS_SUCCESS,        STATUS_UNSUCCESSFUL,       STATUS_NOT_SUPPORTED,
                              STATUS_DEVICE_NOT_READY, STATUS_OBJECT_NAME_EXISTS, STATUS_INSUFFICIENT_RESOURCES,
                              STATUS_NO_SUCH_DEVICE,   STATUS_ACCESS_DENIED};

const char* const kFailingRoutines[] = {"IoSetDeviceInterfaceState", "IoSetDeviceInterfacePropertyData",
                                        "IoDeleteSymbolicLink",      "RtlWriteRegistryValue",
                                        "IoCreateDevice",            "IoCreateSymbolicLink",
                                        "IoRegisterDeviceInterface", "ExAllocatePoolWithTag",
                                        "IoAttachDeviceToDeviceStack"};

const ULONG kCodes[] = {IOCTL_LED_GET_COUNT, IOCTL_LED_GET_STATUS, IOCTL_LED_SET_STATUS, IOCTL_LED_GET_DIRECTION,
                        IOCTL_LED_SET_DIRECTION};

NTSTATUS Status(fuzz::ByteReader& input) {
    const uint8_t choice = input.Byte();
    if (choice < 0xF0) {
        return kStatuses[choice % std::size(kStatuses)];
    }
    const NTSTATUS status = static_cast<NTSTATUS>(input.U32());
    // Completing with STATUS_PENDING is the bus's own error, not one of the answers a bus gives.
    return status == STATUS_PENDING ? STATUS_SUCCESS : status;
}

UCHAR Minor(fuzz::ByteReader& input, UCHAR known) {
    const uint8_t choice = input.Byte();
    return choice < 0xE0 ? static_cast<UCHAR>(choice % known) : input.Byte();
}

struct Handle {
    host::FileHandle file;
    PDEVICE_EXTENSION extension;  // of the device it was opened on; the I/O manager keeps it while the handle lives
};

class Sequence {
public:
    Sequence(fuzz::ByteReader& input, board::ChipPlacement placement, Stage stage, bool closeAfterUnload)
        : input_(input), placement_(placement), closeAfterUnload_(closeAfterUnload), board_({placement, stage}) {}

    void Run() {
        for (int step = 0; step < kMaxSteps && !input_.Empty(); ++step) {
            const Before before = Snapshot();
            const Outcome outcome = Step();
            fuzz::RequirePassiveThread();
            fuzz::RequireCleanChip(board_);
            CheckLeds(before, outcome);
            CheckSavedPattern(before, outcome);
            if (PDEVICE_EXTENSION current = board_.Extension(); current != nullptr) {
                FUZZ_REQUIRE(current->m_LEDCount == 0 || current->m_LEDCount == 8);
                FUZZ_REQUIRE(board_.Io().RemoveLockHeld(&current->m_RemoveLock) == 0);
            }
        }
        End();
    }

private:
    struct Outcome {
        enum class Kind { LedsUntouched, LedSet, Started, Saved, Restored, ChipReset } kind = Kind::LedsUntouched;
        uint8_t latch = 0;  // LedSet: the latch the request asked for
    };

    struct Before {
        uint8_t latch;
        uint32_t dropped;   // latch writes the chip dropped so far
        uint32_t toIgnore;  // latch writes it is still to drop
        PDEVICE_EXTENSION extension;
        UCHAR saved;
    };

    Before Snapshot() {
        PDEVICE_EXTENSION extension = board_.Extension();
        return {board_.Chip().OutputLatch(), board_.Chip().DroppedLatchWrites(), board_.Chip().LatchWritesToIgnore(),
                extension, extension != nullptr ? extension->m_LEDStatus : UCHAR{0}};
    }

    // The LEDs change only as the step asked.
    void CheckLeds(const Before& before, const Outcome& outcome) {
        const uint8_t now = board_.Chip().OutputLatch();
        switch (outcome.kind) {
        case Outcome::Kind::LedsUntouched:
        case Outcome::Kind::Saved:
            FUZZ_REQUIRE(now == before.latch);
            break;
        case Outcome::Kind::LedSet: {
            const bool dropped = board_.Chip().DroppedLatchWrites() != before.dropped;
            FUZZ_REQUIRE(now == (dropped ? before.latch : outcome.latch));
            break;
        }
        case Outcome::Kind::Started:
            FUZZ_REQUIRE(now == before.latch || now == 0x00);  // a start that finds the chip clears the LEDs
            break;
        case Outcome::Kind::Restored:
            // Written back unless the latch dropped every one of the restore's writes.
            FUZZ_REQUIRE(now == (before.toIgnore < kRestoreWrites && ChipAnswers() ? board_.Extension()->m_LEDStatus
                                                                                    : before.latch));
            break;
        case Outcome::Kind::ChipReset:
            FUZZ_REQUIRE(now == 0x00);
            break;
        }
    }

    // The saved pattern changes only by a save, or back to 0 by a start.
    void CheckSavedPattern(const Before& before, const Outcome& outcome) {
        if (before.extension == nullptr || before.extension != board_.Extension()) {
            return;
        }
        const UCHAR now = before.extension->m_LEDStatus;
        if (outcome.kind == Outcome::Kind::Saved) {
            FUZZ_REQUIRE(now == (ChipAnswers() ? before.latch : 0xFF));
        } else if (outcome.kind == Outcome::Kind::Started) {
            FUZZ_REQUIRE(now == before.saved || now == 0);
        } else {
            FUZZ_REQUIRE(now == before.saved);
        }
    }

    // The chip answers at the port pair the driver uses now (detection may have moved it to 0x4E/0x4F).
    bool ChipAnswers() const {
        return (placement_ == board::ChipPlacement::At2E && g_SioIndexPort == 0x2E) ||
               (placement_ == board::ChipPlacement::At4E && g_SioIndexPort == 0x4E);
    }

    Outcome Step() {
        switch (input_.Byte() % 9) {
        case 0:
        case 1:
            return Pnp();
        case 2:
        case 3:
            return Power();
        case 4:
            Answer();
            return {};
        case 5:
            return Control();
        case 6:
            return Handles();
        case 7:
            return Hardware();
        default:
            Kernel();
            return {};
        }
    }

    Outcome Pnp() {
        const UCHAR minor = Minor(input_, 0x1A);
        const uint8_t how = input_.Byte();
        const NTSTATUS arrived = (how & 1) != 0 ? STATUS_NOT_SUPPORTED : Status(input_);
        const bool toDriver = board_.Device() != nullptr;
        // A removal as the system makes it: the request, then the device node goes once nothing sits on it.
        const bool systemRemoval = minor == IRP_MN_REMOVE_DEVICE && (how & 2) != 0;
        const host::IoResult result = systemRemoval ? board_.Remove() : board_.Pnp().Send(minor, arrived);
        FUZZ_REQUIRE(result.status != STATUS_PENDING);
        if (!toDriver) {
            return {};
        }
        if (minor == IRP_MN_REMOVE_DEVICE) {
            // Success, or pending while the bus still holds the request.
            FUZZ_REQUIRE(result.returned == STATUS_SUCCESS || result.returned == STATUS_PENDING);
            // A removal the bus completed successfully takes the device with it.
            FUZZ_REQUIRE(!NT_SUCCESS(result.status) || board_.Device() == nullptr);
        }
        if (minor == IRP_MN_CANCEL_REMOVE_DEVICE || minor == IRP_MN_CANCEL_STOP_DEVICE) {
            FUZZ_REQUIRE(result.status == STATUS_SUCCESS);
        }
        return {minor == IRP_MN_START_DEVICE ? Outcome::Kind::Started : Outcome::Kind::LedsUntouched};
    }

    Outcome Power() {
        const UCHAR minor = Minor(input_, 5);
        const uint8_t typeChoice = input_.Byte();
        const auto type = static_cast<POWER_STATE_TYPE>(typeChoice < 0xF0 ? typeChoice % 2 : input_.U32());
        const uint8_t stateChoice = input_.Byte();
        const ULONG state = stateChoice < 0xF0 ? stateChoice % 9 : input_.U32();
        const uint8_t actionChoice = input_.Byte();
        const auto action = static_cast<POWER_ACTION>(actionChoice < 0xF0 ? actionChoice % 8 : input_.U32());
        const bool toDriver = board_.Device() != nullptr;

        const host::IoResult result = board_.Power().Send(minor, type, state, action);
        FUZZ_REQUIRE(result.status != STATUS_PENDING);
        if (!toDriver || minor != IRP_MN_SET_POWER || type != SystemPowerState) {
            return {};
        }
        if (action == PowerActionHibernate ||
            (action == PowerActionSleep && state >= PowerSystemSleeping1 && state <= PowerSystemSleeping3)) {
            return {Outcome::Kind::Saved};
        }
        if (action == PowerActionSleep && state == PowerSystemWorking) {
            return {Outcome::Kind::Restored};
        }
        return {};
    }

    void Answer() {
        const UCHAR major = input_.Bool() ? IRP_MJ_PNP : IRP_MJ_POWER;
        const uint8_t how = input_.Byte();
        if (how % 8 == 0) {
            board_.RootBus().ClearAnswers();
            return;
        }
        host::BusAnswer answer;
        answer.kind = (how & 0x10) != 0 ? host::BusAnswer::Status::AsArrived : host::BusAnswer::Status::Chosen;
        answer.status = Status(input_);
        answer.later = (how & 0x20) != 0;
        if ((how & 0x40) != 0) {
            answer.information = input_.U32();
        }
        if ((how & 0x80) != 0) {
            board_.RootBus().AnswerAll(major, answer);
        } else {
            board_.RootBus().Answer(major, Minor(input_, major == IRP_MJ_PNP ? 0x1A : 5), answer);
        }
    }

    Outcome Control() {
        if (handles_.empty()) {
            return {};
        }
        const Handle& handle = handles_[input_.Byte() % handles_.size()];
        const ULONG code = input_.Pick(kCodes);
        LED_IO_BUFFER request{static_cast<UCHAR>(input_.Byte() & 0x0F), input_.Byte()};
        uint8_t reply[4] = {};
        const ULONG outLength = code == IOCTL_LED_GET_COUNT ? 4 : 2;
        const uint8_t latch = board_.Chip().OutputLatch();
        const bool removed = handle.extension->m_RemoveLock.Common.Removed != FALSE;
        const ULONG count = handle.extension->m_LEDCount;
        const bool served = request.Port < 8 && request.Port < count;
        board_.Ports().ClearTrace();

        const host::IoResult result = board_.Control(handle.file, code, &request, sizeof request, reply, outLength);

        FUZZ_REQUIRE(result.returned == result.status);
        if (removed) {
            FUZZ_REQUIRE(result.status == STATUS_DELETE_PENDING);
            FUZZ_REQUIRE(board_.Ports().TraceCount() == 0);
            return {};
        }
        const uint8_t mask = static_cast<uint8_t>(1u << (request.Port & 7));
        // What a register read returns: the latch, or an open bus where the chip does not answer.
        const uint8_t read = ChipAnswers() ? latch : 0xFF;
        switch (code) {
        case IOCTL_LED_GET_COUNT:
            FUZZ_REQUIRE(result.status == STATUS_SUCCESS && reply[0] == count && reply[1] == 0);
            return {};
        case IOCTL_LED_GET_STATUS:
            FUZZ_REQUIRE(result.status == STATUS_SUCCESS && reply[0] == request.Port);
            FUZZ_REQUIRE(reply[1] == (served && (read & mask) != 0 ? 1 : 0));
            return {};
        case IOCTL_LED_SET_STATUS:
            if (!served) {
                FUZZ_REQUIRE(result.status == STATUS_INVALID_PARAMETER);
                return {};
            }
            FUZZ_REQUIRE(result.status == STATUS_SUCCESS);
            if (!ChipAnswers()) {
                return {};
            }
            return {Outcome::Kind::LedSet,
                    static_cast<uint8_t>(request.Value != 0 ? latch | mask : latch & ~mask)};
        default:
            FUZZ_REQUIRE(result.status == (served ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER));
            return {};
        }
    }

    Outcome Handles() {
        if (input_.Bool() && handles_.size() < kMaxHandles) {
            NTSTATUS status = STATUS_SUCCESS;
            if (auto file = board_.Open(&status)) {
                FUZZ_REQUIRE(board_.Extension() != nullptr);
                handles_.push_back({*file, board_.Extension()});
            }
        } else if (!handles_.empty()) {
            const std::size_t which = input_.Byte() % handles_.size();
            FUZZ_REQUIRE(board_.Io().Close(handles_[which].file) == STATUS_SUCCESS);
            handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(which));
        }
        return {};
    }

    // The board's own behaviour: power lost while asleep, a latch that ignores writes for a while, input levels.
    Outcome Hardware() {
        switch (input_.Byte() % 3) {
        case 0:
            board_.Chip().Reset();
            return {Outcome::Kind::ChipReset};
        case 1:
            board_.Chip().IgnoreLatchWrites(input_.Byte() % 12);
            return {};
        default:
            board_.Chip().SetInputLevels(input_.Byte());
            return {};
        }
    }

    // A routine of the kernel fails at its next call; the system may also report the device again.
    void Kernel() {
        if (input_.Bool()) {
            board_.Kernel().Faults().FailNext(input_.Pick(kFailingRoutines),
                                              static_cast<NTSTATUS>(Status(input_) | 0xC0000000));
        } else if (board_.Device() == nullptr) {
            (void)board_.Add();
        }
    }

    // The end of the device and the driver: removal and unload, with the handles closed before, or after as
    // applications that outlive the device close them.
    void End() {
        board_.RootBus().ClearAnswers();
        board_.Kernel().Faults().Reset();
        board_.Chip().IgnoreLatchWrites(0);
        if (!closeAfterUnload_) {
            CloseAll();
        }
        if (board_.Device() != nullptr) {
            const host::IoResult result = board_.Remove();
            FUZZ_REQUIRE(result.status == STATUS_SUCCESS);
            FUZZ_REQUIRE(board_.Device() == nullptr);
        }
        FUZZ_REQUIRE(board_.RootBus().Pdo() == nullptr || board_.RootBus().Pdo()->AttachedDevice == nullptr);
        board_.Unload();  // the manager checks that no device object and no pool are left
        FUZZ_REQUIRE(!board_.Pnp().Loaded());
        CloseAll();
        fuzz::RequireCleanChip(board_);
    }

    void CloseAll() {
        for (const Handle& handle : handles_) {
            FUZZ_REQUIRE(board_.Io().Close(handle.file) == STATUS_SUCCESS);
        }
        handles_.clear();
    }

    fuzz::ByteReader& input_;
    board::ChipPlacement placement_;
    bool closeAfterUnload_;
    vboard::VirtualBoard board_;
    std::vector<Handle> handles_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::ByteReader input(data, size);
    const uint8_t setup = input.Byte();
    const board::ChipPlacement placements[] = {board::ChipPlacement::At2E, board::ChipPlacement::At4E,
                                               board::ChipPlacement::Absent};
    Sequence sequence(input, placements[(setup >> 2) % 3], (setup & 1) != 0 ? Stage::Added : Stage::Started,
                      (setup & 2) != 0);
    sequence.Run();
    return 0;
}
