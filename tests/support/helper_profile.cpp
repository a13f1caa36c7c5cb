#include "helper_commands.h"
namespace linkbay { namespace test {
const HelperCommand kProfileCommands[] = {{nullptr, nullptr}};
}}
