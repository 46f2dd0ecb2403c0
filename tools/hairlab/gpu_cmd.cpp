// hairlab gpu: not built yet.
#include "commands.h"

namespace hairlab {

Action addGpuCommand(CLI::App&) { return {}; }

} // namespace hairlab
