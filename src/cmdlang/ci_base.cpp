#include "cmdlang/ci_base.h"

namespace linkbay {

CIBase::CIBase(const CommandSet& commandSet) : m_set(commandSet) {}

CIBase::~CIBase() = default;

}  // namespace linkbay
