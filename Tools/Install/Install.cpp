// Installs or removes a root-enumerated device and its driver package through SetupAPI, as Device Manager would.
#include <windows.h>
#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Owns a SetupAPI device information set.
class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~DeviceInfoSet()
    {
        if (Valid()) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    bool Valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return set_; }

private:
    HDEVINFO set_;
};

int Fail(const char* what)
{
    std::fprintf(stderr, "led-install: %s failed (error %lu)\n", what, GetLastError());
    return 1;
}

// Creates the device node (class System, hardware ID as given), then installs the INF's driver on it.
int Install(const std::string& inf, const std::string& hardwareId)
{
    char infPath[MAX_PATH];
    if (GetFullPathNameA(inf.c_str(), MAX_PATH, infPath, nullptr) == 0) {
        return Fail("GetFullPathName");
    }
    const DeviceInfoSet set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr));
    if (!set.Valid()) {
        return Fail("SetupDiCreateDeviceInfoList");
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoA(set.Get(), "System", &GUID_DEVCLASS_SYSTEM, nullptr, nullptr, DICD_GENERATE_ID,
                                  &device)) {
        return Fail("SetupDiCreateDeviceInfo");
    }
    // REG_MULTI_SZ: the ID and an empty string.
    std::vector<BYTE> ids(hardwareId.begin(), hardwareId.end());
    ids.push_back(0);
    ids.push_back(0);
    if (!SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_HARDWAREID, ids.data(),
                                           static_cast<DWORD>(ids.size()))) {
        return Fail("SetupDiSetDeviceRegistryProperty");
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.Get(), &device)) {
        return Fail("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId.c_str(), infPath, INSTALLFLAG_FORCE, &reboot)) {
        const int result = Fail("UpdateDriverForPlugAndPlayDevices");
        SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device);
        return result;
    }
    std::printf("led-install: installed %s from %s%s\n", hardwareId.c_str(), infPath, reboot ? " (reboot needed)" : "");
    return 0;
}

// Removes every device node whose hardware IDs include the given one.
int Remove(const std::string& hardwareId)
{
    const DeviceInfoSet set(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!set.Valid()) {
        return Fail("SetupDiGetClassDevs");
    }
    int removed = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.Get(), index, &device); ++index) {
        char ids[1024] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE*>(ids), sizeof(ids) - 2, nullptr)) {
            continue;
        }
        for (const char* id = ids; *id != 0; id += std::strlen(id) + 1) {
            if (_stricmp(id, hardwareId.c_str()) == 0) {
                if (!SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device)) {
                    return Fail("SetupDiCallClassInstaller(DIF_REMOVE)");
                }
                ++removed;
                break;
            }
        }
    }
    std::printf("led-install: removed %d device(s) with %s\n", removed, hardwareId.c_str());
    return removed > 0 ? 0 : 1;
}

} // namespace

// Usage: led-install install INF HARDWARE_ID | led-install remove HARDWARE_ID
int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "install" && argc == 4) {
        return Install(argv[2], argv[3]);
    }
    if (command == "remove" && argc == 3) {
        return Remove(argv[2]);
    }
    std::fprintf(stderr, "usage: led-install install INF HARDWARE_ID | led-install remove HARDWARE_ID\n");
    return 2;
}
