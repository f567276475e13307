// Names of the chip's places, as the tool prints them.
#include "BoardControls.h"

namespace ledctl {

std::string PlaceName(ChipPlace place) {
    switch (place) {
    case ChipPlace::At2E: return "0x2E/0x2F";
    case ChipPlace::At4E: return "0x4E/0x4F";
    case ChipPlace::Absent: break;
    }
    return "absent";
}

}  // namespace ledctl
