// The client library's one door to its platform: the real kernel32 on Windows, the stand-in on Linux.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include "Kernel32.h"
#endif
