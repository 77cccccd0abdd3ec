#include "krvtool/export_command.h"
#include "krvtool/qc_command.h"
#include "krvtool/tool.h"

namespace krv::tool {

Subcommand importLegacyCommand();
Subcommand importReportsCommand();
Subcommand watchCommand();

// One line per subcommand; each subcommand's code lives in its own file.

Subcommand auditCommand();  // audit_command.cpp
Subcommand copyCommand();   // copy_command.cpp

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> list = {
        exportCommand(),       copyCommand(),          auditCommand(), qcCommand(),
        importLegacyCommand(), importReportsCommand(), watchCommand(),
    };
    return list;
}

}  // namespace krv::tool
