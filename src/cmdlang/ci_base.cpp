#include "cmdlang/ci_base.h"

namespace linkbay {

CIBase::CIBase(const WordEntry* pVerbs, int32_t nVerbs,
               const WordEntry* pNouns, int32_t nNouns,
               const WordEntry* pModifiers, int32_t nModifiers,
               const RangeEntry* pRanges, int32_t nRanges,
               const CommandEntry* pCommandsA, int32_t nCommandsA,
               const CommandEntry* pCommandsB, int32_t nCommandsB,
               const CommandEntry* pCommandsC, int32_t nCommandsC,
               int32_t nVerbA, int32_t nVerbB)
    : m_set{pVerbs, nVerbs, pNouns, nNouns, pModifiers, nModifiers,
            pRanges, nRanges, pCommandsA, nCommandsA, pCommandsB, nCommandsB,
            pCommandsC, nCommandsC, nVerbA, nVerbB} {}

CIBase::CIBase(const CommandSet& commandSet) : m_set(commandSet) {}

CIBase::~CIBase() = default;

}  // namespace linkbay
