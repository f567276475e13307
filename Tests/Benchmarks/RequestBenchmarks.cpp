// What one LED request costs on the virtual board: through the I/O manager, through the whole library stack, and
// the bare chip model doing the same port operations, so the software overhead is the difference.
#include <benchmark/benchmark.h>

#include <vector>

#include "Kernel32.h"
#include "PortBus.h"
#include "TamLED.h"
#include "VirtualBoard.h"
#include "W836x7Chip.h"

namespace {

// Pool and global-memory allocations so far.
uint64_t Allocations(vboard::VirtualBoard& board) {
    return board.Kernel().Memory().Allocations() + board.Kernel().Faults().Calls("GlobalAlloc");
}

// Port operations of one request, and allocations, per iteration (the trace was cleared before the loop).
void Report(benchmark::State& state, vboard::VirtualBoard& board, uint64_t allocationsBefore) {
    const double iterations = static_cast<double>(state.iterations());
    state.counters["port_ops"] = static_cast<double>(board.Ports().TraceCount()) / iterations;
    state.counters["allocs"] = static_cast<double>(Allocations(board) - allocationsBefore) / iterations;
}

void DeviceControl(benchmark::State& state, ULONG code) {
    vboard::VirtualBoard board;
    const host::FileHandle handle = *board.Open();
    LED_IO_BUFFER buffer{3, 1};
    board.Ports().ClearTrace();
    const uint64_t allocations = Allocations(board);
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop's idiom
        buffer.Value ^= 1;
        benchmark::DoNotOptimize(board.Control(handle, code, &buffer, sizeof buffer, &buffer, sizeof buffer));
    }
    Report(state, board, allocations);
    board.Io().Close(handle);
}

void BM_IoManager_SetStatus(benchmark::State& state) { DeviceControl(state, IOCTL_LED_SET_STATUS); }
void BM_IoManager_GetStatus(benchmark::State& state) { DeviceControl(state, IOCTL_LED_GET_STATUS); }

// One library call per iteration on an open connection.
template <typename Call>
void LibraryCall(benchmark::State& state, Call&& call) {
    vboard::VirtualBoard board;
    LED_LONG handle = 0;
    LED_DeviceOpen(&handle);
    board.Ports().ClearTrace();
    const uint64_t allocations = Allocations(board);
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop's idiom
        benchmark::DoNotOptimize(call(handle));
    }
    Report(state, board, allocations);
    LED_DeviceClose(&handle);
}

void BM_Library_On(benchmark::State& state) {
    LibraryCall(state, [](LED_LONG handle) { return LED_On(handle, 3); });
}

void BM_Library_GetStatus(benchmark::State& state) {
    LED_ULONG value = 0;
    LibraryCall(state, [&value](LED_LONG handle) { return LED_GetStatus(handle, 3, &value); });
}

// The chip model alone, fed the operations a request makes: the floor under every figure above.
void ChipAlone(benchmark::State& state, int sequences) {
    board::PortBus bus;
    board::W836x7Chip chip(board::ChipPlacement::At2E);
    bus.Attach(chip);
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop's idiom
        for (int s = 0; s < sequences; ++s) {
            bus.Out(0x2E, 0x87);
            bus.Out(0x2E, 0x87);
            bus.Out(0x2E, 0x07);
            bus.Out(0x2F, 0x07);
            bus.Out(0x2E, 0x2A);
            const uint8_t v = bus.In(0x2F);
            bus.Out(0x2E, 0x2A);
            bus.Out(0x2F, static_cast<uint8_t>(v | 0xFC));
            bus.Out(0x2E, 0x30);
            const uint8_t w = bus.In(0x2F);
            bus.Out(0x2E, 0x30);
            bus.Out(0x2F, static_cast<uint8_t>(w | 0x01));
            bus.Out(0x2E, 0xF0);
            bus.Out(0x2F, 0x00);
            bus.Out(0x2E, 0xF1);
            benchmark::DoNotOptimize(bus.In(0x2F));
            bus.Out(0x2E, 0xF2);
            bus.Out(0x2F, 0xFF);
            bus.Out(0x2E, 0xAA);
        }
    }
    state.counters["port_ops"] = static_cast<double>(bus.TraceCount()) / static_cast<double>(state.iterations());
}

void BM_ChipModel_SetStatusOperations(benchmark::State& state) { ChipAlone(state, 4); }
void BM_ChipModel_GetStatusOperations(benchmark::State& state) { ChipAlone(state, 1); }

BENCHMARK(BM_IoManager_SetStatus);
BENCHMARK(BM_IoManager_GetStatus);
BENCHMARK(BM_Library_On);
BENCHMARK(BM_Library_GetStatus);
BENCHMARK(BM_ChipModel_SetStatusOperations);
BENCHMARK(BM_ChipModel_GetStatusOperations);

}  // namespace

BENCHMARK_MAIN();
