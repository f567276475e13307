// Many threads switching their own LEDs while power transitions and a stop and start run, ending in a removal
// with requests still in flight. Run under ThreadSanitizer and AddressSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "TamLED.h"
#include "VirtualBoard.h"

namespace {

// Odd while a transition runs: a power transition or a restart may legitimately rewrite the LEDs, so an owner
// checks its LED only across a stretch with no transition in it.
class TransitionEpoch {
public:
    void Begin() { value_.fetch_add(1); }
    void End() { value_.fetch_add(1); }
    uint64_t Read() const { return value_.load(); }
    static bool Quiet(uint64_t before, uint64_t after) { return before == after && before % 2 == 0; }

private:
    std::atomic<uint64_t> value_{0};
};

struct Tally {
    std::atomic<int> checked{0};
    std::atomic<int> lost{0};
    std::atomic<int> unexpected{0};
};

TEST(Stress, RequestsPowerTransitionsRestartAndRemovalTogether) {
    vboard::VirtualBoard board;
    TransitionEpoch epoch;
    Tally tally;
    std::atomic<bool> removed{false};
    std::atomic<bool> stop{false};

    // Six threads send requests on handles of their own; two go through the library's one connection.
    constexpr int kRequestThreads = 6;
    std::vector<host::FileHandle> handles;
    for (int t = 0; t < kRequestThreads; ++t) {
        handles.push_back(*board.Open());
    }
    LED_LONG library = 0;
    ASSERT_EQ(LED_DeviceOpen(&library), LED_SUCCESS);

    std::vector<std::thread> workers;
    for (int t = 0; t < kRequestThreads; ++t) {
        workers.emplace_back([&, t] {
            std::minstd_rand random(static_cast<unsigned>(t + 1));
            const uint8_t led = static_cast<uint8_t>(t);
            while (!stop) {
                const uint64_t before = epoch.Read();
                const bool afterRemoval = removed;
                // cppcheck-suppress constStatement ; cppcheck 2.10 misreads this brace initialiser as a statement
                LED_IO_BUFFER request{led, static_cast<uint8_t>(random() & 1)};
                const NTSTATUS set = board.Control(handles[t], IOCTL_LED_SET_STATUS, &request, 2, &request, 2).status;
                LED_IO_BUFFER reply{led, 0};
                const NTSTATUS get = board.Control(handles[t], IOCTL_LED_GET_STATUS, &reply, 2, &reply, 2).status;
                if (afterRemoval) {
                    tally.unexpected += (set != STATUS_DELETE_PENDING || get != STATUS_DELETE_PENDING) ? 1 : 0;
                    continue;
                }
                if (set == STATUS_SUCCESS && get == STATUS_SUCCESS && TransitionEpoch::Quiet(before, epoch.Read())) {
                    ++tally.checked;
                    tally.lost += reply.Value != request.Value ? 1 : 0;
                } else if ((set != STATUS_SUCCESS && set != STATUS_DELETE_PENDING) ||
                           (get != STATUS_SUCCESS && get != STATUS_DELETE_PENDING)) {
                    ++tally.unexpected;
                }
            }
        });
    }
    for (int t = kRequestThreads; t < 8; ++t) {
        workers.emplace_back([&, t] {
            std::minstd_rand random(static_cast<unsigned>(t + 1));
            const auto led = static_cast<unsigned short>(t);
            while (!stop) {
                const uint64_t before = epoch.Read();
                const bool on = (random() & 1) != 0;
                const LED_LONG switched = (on ? LED_On : LED_Off)(library, led);
                LED_ULONG state = 2;
                const LED_LONG read = LED_GetStatus(library, led, &state);
                // The library reports no failed request; only a quiet stretch before removal says anything.
                if (switched == LED_SUCCESS && read == LED_SUCCESS && !removed &&
                    TransitionEpoch::Quiet(before, epoch.Read())) {
                    ++tally.checked;
                    tally.lost += state != (on ? 1u : 0u) ? 1 : 0;
                } else if (switched != LED_SUCCESS || read != LED_SUCCESS) {
                    ++tally.unexpected;
                }
            }
        });
    }

    auto transition = [&](auto&& step) {
        epoch.Begin();
        step();
        epoch.End();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    // At least twenty rounds, and on until the owners have checked their LEDs often enough, however slow the build.
    for (int round = 0; round < 20 || (tally.checked < 2000 && round < 1000); ++round) {
        transition([&] { EXPECT_EQ(board.Power().Sleep().status, STATUS_SUCCESS); });
        transition([&] { EXPECT_EQ(board.Power().WakeFromSleep().status, STATUS_SUCCESS); });
        transition([&] { EXPECT_EQ(board.Power().Hibernate().status, STATUS_SUCCESS); });
        transition([&] { EXPECT_EQ(board.Power().WakeFromSleep().status, STATUS_SUCCESS); });
        transition([&] {
            EXPECT_EQ(board.Stop().status, STATUS_SUCCESS);
            EXPECT_EQ(board.Start().status, STATUS_SUCCESS);
        });
    }
    // Removal while requests are in flight: it waits for them, and what comes after is refused.
    epoch.Begin();
    EXPECT_EQ(board.Remove().returned, STATUS_SUCCESS);
    removed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& worker : workers) {
        worker.join();
    }

    EXPECT_GT(tally.checked.load(), 1000);
    EXPECT_EQ(tally.lost.load(), 0);
    EXPECT_EQ(tally.unexpected.load(), 0);
    EXPECT_EQ(board.Chip().Diagnostics(), board::ChipDiagnostics{});
    for (auto handle : handles) {
        board.Io().Close(handle);
    }
    EXPECT_EQ(LED_DeviceClose(&library), LED_SUCCESS);
    board.Unload();
    EXPECT_TRUE(board.Kernel().Memory().Outstanding().empty());
}

}  // namespace
