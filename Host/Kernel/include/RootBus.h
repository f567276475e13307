// The bus driver below the function driver: owns the physical device object and answers each request as a
// test scripts it, at once or later from another thread.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "NtKernel.h"

namespace host {

class Kernel;

struct BusAnswer {
    enum class Status { AsArrived, Chosen } kind = Status::Chosen;
    NTSTATUS status = STATUS_SUCCESS;
    bool later = false;  // complete from another thread after the dispatch routine returned STATUS_PENDING
    std::optional<ULONG_PTR> information;  // left as it arrived unless set

    static BusAnswer With(NTSTATUS status, bool later = false) { return {Status::Chosen, status, later, {}}; }
};

// One request as it reached the bus.
struct BusRequest {
    UCHAR major = 0;
    UCHAR minor = 0;
    NTSTATUS statusOnArrival = 0;
    POWER_STATE_TYPE powerType = SystemPowerState;
    ULONG powerState = 0;
    POWER_ACTION powerAction = PowerActionNone;
};

class RootBus {
public:
    explicit RootBus(std::u16string_view instancePath = u"ROOT\\ORVLED\\0000");
    ~RootBus();
    RootBus(const RootBus&) = delete;
    RootBus& operator=(const RootBus&) = delete;

    PDEVICE_OBJECT Pdo() const { return pdo_; }
    void DeletePdo();  // the Plug and Play manager's last step of a removal

    // By default Plug and Play requests keep the status they arrived with (a bus completes what it does not
    // handle unchanged), except start and removal, which succeed; power requests succeed.
    void Answer(UCHAR major, UCHAR minor, BusAnswer answer);
    void AnswerAll(UCHAR major, BusAnswer answer);
    void ClearAnswers();

    std::vector<BusRequest> Requests() const;
    void ClearRequests();

private:
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp);
    NTSTATUS Serve(PIRP irp);
    BusAnswer AnswerFor(UCHAR major, UCHAR minor) const;

    static inline RootBus* current_ = nullptr;
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
    mutable std::mutex mutex_;
    std::map<std::pair<UCHAR, int>, BusAnswer> answers_;  // minor -1: every minor of the major
    std::vector<BusRequest> requests_;
    std::vector<std::jthread> completers_;
};

}  // namespace host
