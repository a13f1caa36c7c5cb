// The KORV family's keywords, argument ranges and commands.
#pragma once

#include "cmdlang/command_set.h"

namespace linkbay {

extern const CommandSet kKorvCommandSet;

}  // namespace linkbay
