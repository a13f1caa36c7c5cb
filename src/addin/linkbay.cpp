#include "addin/linkbay.h"

namespace linkbay {

Linkbay::Linkbay() = default;

}  // namespace linkbay
