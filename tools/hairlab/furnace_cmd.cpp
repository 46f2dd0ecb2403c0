// hairlab furnace: not built yet.
#include "commands.h"

namespace hairlab {

Action addFurnaceCommand(CLI::App&) { return {}; }

} // namespace hairlab
