// The keywords, argument ranges and commands of TAVO and PELLUX instruments:
// the two families share one vocabulary.
#pragma once

#include "cmdlang/command_set.h"

namespace linkbay {

extern const CommandSet kMmcmdCommandSet;

}  // namespace linkbay
