// Models by the family table's simulator column: the table names the
// families, this file binds each family's device type to its model.
#include "linkbay/families.h"
#include "sim/instrument_model.h"
#include "sim/korv_model.h"
#include "sim/mmcmd_model.h"
#include "sim/zeph_model.h"

namespace linkbay {
namespace sim {

namespace {
struct ModelMaker {
    int32_t deviceType;
    uint32_t ownBaud;  // 0: the rate the driver is configured for
    std::unique_ptr<InstrumentModel> (*make)();
};
const ModelMaker kMakers[] = {
    {LINKBAY_DEVICE_KORV, 0, [] { return std::unique_ptr<InstrumentModel>(new KorvModel()); }},
    {LINKBAY_DEVICE_ZEPH, 38400, [] { return std::unique_ptr<InstrumentModel>(new ZephModel()); }},
    {LINKBAY_DEVICE_PELLUX, 38400, [] { return std::unique_ptr<InstrumentModel>(new MmcmdModel("PLUX-105")); }},
    {LINKBAY_DEVICE_TAVO, 38400, [] { return std::unique_ptr<InstrumentModel>(new MmcmdModel("TAVO-210")); }},
};

const ModelMaker* FindMaker(const std::string& name) {
    for (const LinkbayFamily& family : kLinkbayFamilies) {
        if (family.pszSimModel == nullptr || name != family.pszSimModel) continue;
        for (const ModelMaker& maker : kMakers) {
            if (maker.deviceType == family.nDeviceType) return &maker;
        }
    }
    return nullptr;
}
}  // namespace

std::unique_ptr<InstrumentModel> CreateModel(const std::string& name) {
    const ModelMaker* maker = FindMaker(name);
    return maker ? maker->make() : nullptr;
}

uint32_t OwnBaud(const std::string& name) {
    const ModelMaker* maker = FindMaker(name);
    return maker ? maker->ownBaud : 0;
}

std::vector<std::string> ModelNames() {
    std::vector<std::string> names;
    for (const LinkbayFamily& family : kLinkbayFamilies) {
        if (family.pszSimModel != nullptr) names.push_back(family.pszSimModel);
    }
    return names;
}

std::string KnownFamilies() {
    std::string text;
    for (const std::string& name : ModelNames()) text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace sim
}  // namespace linkbay
