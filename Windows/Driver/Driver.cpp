// Driver-wide data of OrvLED: the saved service registry path and the device-interface class.
#include "OrvLED.h"

UNICODE_STRING g_RegistryPath = {0, 0, NULL};

const GUID GUID_DEVINTERFACE_LED = {0x83E78A1E, 0x5998, 0x4258, {0xB7, 0x28, 0x07, 0x44, 0x15, 0xD5, 0xCD, 0x99}};
