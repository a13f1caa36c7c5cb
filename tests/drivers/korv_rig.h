// The KORV driver on the simulated KORV instrument (driver_rig.h).
#pragma once

#include <map>
#include <string>

#include "drivers/driver_rig.h"
#include "drivers/korv/korvci.h"

namespace linkbay {
namespace test {

const char kRejection[] = "??\r\n";

class SimRig : public DriverRig<KORVCI> {
public:
    explicit SimRig(bool bAttach = true, const char* pszBaudIni = nullptr) : DriverRig("korv", bAttach, pszBaudIni) {}
};

inline std::string RoiQueries() {
    std::string s;
    for (int n = 1; n <= kKorvRoiSlots; ++n) s += "f6 " + std::to_string(n) + "\r";
    return s;
}

// The instrument's answers to the 29 ROI queries; unlisted slots are empty.
inline std::string RoiReplies(const std::map<int, std::string>& defined = {}) {
    std::string s;
    for (int n = 1; n <= kKorvRoiSlots; ++n) {
        char sz[32];
        std::snprintf(sz, sizeof sz, "f6 %02d 0001 0000\r\n", n);
        const auto it = defined.find(n);
        s += it != defined.end() ? "f6 " + it->second + "\r\n" : std::string(sz);
    }
    return s;
}

}  // namespace test
}  // namespace linkbay
