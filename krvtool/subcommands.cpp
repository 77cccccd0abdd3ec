#include "krvtool/export_command.h"
#include "krvtool/tool.h"

namespace krv::tool {

// One line per subcommand; each subcommand's code lives in its own file.

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> list = {
        exportSubcommand(),
    };
    return list;
}

}  // namespace krv::tool
