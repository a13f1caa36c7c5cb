// Models by the family table's simulator column: the table names the
// families, this file binds each family's device type to its model.
#include "linkbay/families.h"
#include "sim/instrument_model.h"
#include "sim/korv_model.h"

namespace linkbay {
namespace sim {

namespace {
struct ModelMaker {
    int32_t deviceType;
    std::unique_ptr<InstrumentModel> (*make)();
};
const ModelMaker kMakers[] = {
    {LINKBAY_DEVICE_KORV, [] { return std::unique_ptr<InstrumentModel>(new KorvModel()); }},
};
}  // namespace

std::unique_ptr<InstrumentModel> CreateModel(const std::string& name) {
    for (const LinkbayFamily& family : kLinkbayFamilies) {
        if (family.pszSimModel == nullptr || name != family.pszSimModel) continue;
        for (const ModelMaker& maker : kMakers) {
            if (maker.deviceType == family.nDeviceType) return maker.make();
        }
    }
    return nullptr;
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
