// hairlab sample: not built yet.
#include "commands.h"

namespace hairlab {

Action addSampleCommand(CLI::App&) { return {}; }

} // namespace hairlab
