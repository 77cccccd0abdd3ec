#include "krvtool/tool.h"

namespace krv::tool {

Subcommand importLegacyCommand();
Subcommand importReportsCommand();
Subcommand watchCommand();

// One line per subcommand; each subcommand's code lives in its own file.

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> list = {
        importLegacyCommand(),
        importReportsCommand(),
        watchCommand(),
    };
    return list;
}

}  // namespace krv::tool
