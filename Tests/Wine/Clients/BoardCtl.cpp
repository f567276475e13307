// Test client of the BoardTrap driver: prints the chip model's state and port trace, sets its placement.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BoardTrapControl.h"

namespace {

// Owns the handle of the BoardTrap device.
class BoardTrap {
public:
    BoardTrap()
        : handle_(CreateFileA(BOARD_TRAP_WIN32_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr))
    {
    }
    ~BoardTrap()
    {
        if (Open()) {
            CloseHandle(handle_);
        }
    }
    BoardTrap(const BoardTrap&) = delete;
    BoardTrap& operator=(const BoardTrap&) = delete;

    bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }

    bool Control(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength) const
    {
        DWORD returned = 0;
        return DeviceIoControl(handle_, code, const_cast<void*>(in), inLength, out, outLength, &returned, nullptr) !=
               FALSE;
    }

private:
    HANDLE handle_;
};

int PrintState(const BoardTrap& trap)
{
    BOARD_TRAP_STATE state{};
    if (!trap.Control(IOCTL_BOARD_TRAP_GET_STATE, nullptr, 0, &state, sizeof(state))) {
        std::fprintf(stderr, "boardctl: state request failed (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("placement=%lu\ntrapped=%lu\nundecoded=%lu\ndata_outside_config=%lu\nenter_key_in_config=%lu\n"
                "property_calls=%lu\ntrace_count=%llu\nconfig_mode=%u\nselected_ldn=%u\nchip_id=0x%02X\n"
                "gpio_direction=0x%02X\ngpio_data=0x%02X\ngpio_inversion=0x%02X\ngpio_activate=0x%02X\n"
                "last_property_id=%lu\nlast_property_type=0x%lX\nlast_property_guid=0x%08lX\n"
                "last_property_data=0x%02X\n",
                state.Placement, state.TrappedInstructions, state.UndecodedFaults, state.DataAccessOutsideConfig,
                state.EnterKeyInConfig, state.PropertyDataCalls, state.TraceCount, state.ConfigMode,
                state.SelectedLogicalDevice, state.ChipId, state.GpioDirection, state.GpioData, state.GpioInversion,
                state.GpioActivate, state.LastPropertyId, state.LastPropertyType, state.LastPropertyGuidData1,
                state.LastPropertyData);
    return 0;
}

// One line per port operation: "out 2E 87" or "in 2F 52".
int PrintTrace(const BoardTrap& trap)
{
    unsigned long long next = 0;
    for (;;) {
        BOARD_TRAP_TRACE trace{};
        if (!trap.Control(IOCTL_BOARD_TRAP_GET_TRACE, &next, sizeof(next), &trace, sizeof(trace))) {
            std::fprintf(stderr, "boardctl: trace request failed (%lu)\n", GetLastError());
            return 1;
        }
        if (trace.First > next) {
            std::printf("lost %llu\n", trace.First - next);
        }
        for (unsigned long i = 0; i < trace.Returned; ++i) {
            const BOARD_TRAP_OPERATION& op = trace.Operations[i];
            std::printf("%s %02X %02X\n", op.IsOut ? "out" : "in", op.Port, op.Value);
        }
        next = trace.First + trace.Returned;
        if (trace.Returned == 0 || next >= trace.Count) {
            return 0;
        }
    }
}

} // namespace

// Usage: boardctl state | trace | clear | placement 2e|4e|absent | register LDN INDEX (hex)
int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: boardctl state|trace|clear|placement 2e|4e|absent|register LDN INDEX\n");
        return 2;
    }
    const BoardTrap trap;
    if (!trap.Open()) {
        std::fprintf(stderr, "boardctl: cannot open %s (%lu): is BoardTrap loaded?\n", BOARD_TRAP_WIN32_PATH,
                     GetLastError());
        return 1;
    }
    const std::string command = argv[1];
    if (command == "state") {
        return PrintState(trap);
    }
    if (command == "trace") {
        return PrintTrace(trap);
    }
    if (command == "clear") {
        return trap.Control(IOCTL_BOARD_TRAP_CLEAR_TRACE, nullptr, 0, nullptr, 0) ? 0 : 1;
    }
    if (command == "placement" && argc == 3) {
        const std::string where = argv[2];
        unsigned long placement = where == "2e" ? BOARD_TRAP_PLACEMENT_2E
                                  : where == "4e" ? BOARD_TRAP_PLACEMENT_4E
                                  : where == "absent" ? BOARD_TRAP_PLACEMENT_ABSENT
                                                      : 99;
        return trap.Control(IOCTL_BOARD_TRAP_SET_PLACEMENT, &placement, sizeof(placement), nullptr, 0) ? 0 : 1;
    }
    if (command == "register" && argc == 4) {
        const unsigned char request[2] = {static_cast<unsigned char>(std::strtoul(argv[2], nullptr, 16)),
                                          static_cast<unsigned char>(std::strtoul(argv[3], nullptr, 16))};
        unsigned char value = 0;
        if (!trap.Control(IOCTL_BOARD_TRAP_GET_REGISTER, request, sizeof(request), &value, sizeof(value))) {
            return 1;
        }
        std::printf("0x%02X\n", value);
        return 0;
    }
    std::fprintf(stderr, "boardctl: unknown command\n");
    return 2;
}
