// hairlab render: not built yet.
#include "commands.h"

namespace hairlab {

Action addRenderCommand(CLI::App&) { return {}; }

} // namespace hairlab
