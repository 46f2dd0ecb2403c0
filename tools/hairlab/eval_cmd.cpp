// hairlab eval: not built yet.
#include "commands.h"

namespace hairlab {

Action addEvalCommand(CLI::App&) { return {}; }

} // namespace hairlab
