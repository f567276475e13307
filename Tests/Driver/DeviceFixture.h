// OrvLED on the virtual board, loaded and added, with one open handle: requests go through the I/O manager.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "SioSequences.h"
#include "VirtualBoard.h"

namespace testsupport {

class DeviceFixture : public testing::Test {
protected:
    DeviceFixture() : board_(vboard::BoardOptions{board::ChipPlacement::At2E, vboard::BoardOptions::Stage::Added}) {
        handle_ = board_.Open().value_or(0);
    }

    ~DeviceFixture() override { board_.Io().Close(handle_); }

    PDEVICE_EXTENSION Extension() { return board_.Extension(); }

    void StartDevice() {
        ASSERT_EQ(board_.Start().status, STATUS_SUCCESS);
        bus_.ClearTrace();
    }

    struct Reply {
        host::IoResult result;
        std::vector<uint8_t> output;
    };

    // One request as a user-mode caller sends it; the output starts as 0xEE bytes so untouched ones show.
    Reply Control(ULONG code, std::vector<uint8_t> input, ULONG outputLength, host::FileHandle handle = 0) {
        Reply reply;
        reply.output.assign(outputLength, 0xEE);
        reply.result = board_.Control(handle == 0 ? handle_ : handle, code, input.data(),
                                      static_cast<ULONG>(input.size()), reply.output.data(), outputLength);
        return reply;
    }

    vboard::VirtualBoard board_;
    host::Kernel& kernel_ = board_.Kernel();
    board::PortBus& bus_ = board_.Ports();
    board::W836x7Chip& chip_ = board_.Chip();
    host::FileHandle handle_ = 0;
};

}  // namespace testsupport
