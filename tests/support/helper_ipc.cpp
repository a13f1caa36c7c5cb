#include "helper_commands.h"
namespace linkbay { namespace test {
const HelperCommand kIpcCommands[] = {{nullptr, nullptr}};
}}
