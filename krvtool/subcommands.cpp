#include "krvtool/tool.h"

namespace krv::tool {

// Each subcommand's code lives in its own file, NAME_command.cpp.
Subcommand exportCommand();
Subcommand copyCommand();
Subcommand auditCommand();
Subcommand qcCommand();
Subcommand importLegacyCommand();
Subcommand importReportsCommand();
Subcommand watchCommand();

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> list = {
        exportCommand(),       copyCommand(),          auditCommand(), qcCommand(),
        importLegacyCommand(), importReportsCommand(), watchCommand(),
    };
    return list;
}

}  // namespace krv::tool
