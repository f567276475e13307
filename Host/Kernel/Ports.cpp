// The processor's IN and OUT instructions, reaching the port bus of the board the kernel runs on.
#include "Kernel.h"
#include "NtKernel.h"
#include "PortBus.h"

extern "C" {

UCHAR __inbyte(USHORT Port) {
    board::PortBus* bus = host::Kernel::Current().Ports();
    return bus == nullptr ? 0xFF : bus->In(Port);
}

VOID __outbyte(USHORT Port, UCHAR Data) {
    if (board::PortBus* bus = host::Kernel::Current().Ports(); bus != nullptr) {
        bus->Out(Port, Data);
    }
}

}  // extern "C"
