// The PELLUX family's keywords, argument ranges and commands (the same as TAVO's).
#pragma once

#include "cmdlang/command_set.h"

namespace linkbay {

extern const CommandSet kPelluxCommandSet;

}  // namespace linkbay
