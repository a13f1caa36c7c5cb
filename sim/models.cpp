#include "sim/instrument_model.h"
#include "sim/korv_model.h"

namespace linkbay {
namespace sim {

std::unique_ptr<InstrumentModel> CreateModel(const std::string& family) {
    if (family == "korv") return std::unique_ptr<InstrumentModel>(new KorvModel());
    return nullptr;
}

const char* KnownFamilies() { return "korv"; }

}  // namespace sim
}  // namespace linkbay
