#include "cli/Commands.h"

namespace ondrevo::cli {
void RegisterDocumentCommands(CommandRegistry&) {}
}  // namespace ondrevo::cli
