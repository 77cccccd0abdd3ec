#include "krvtool/tool.h"

namespace krv::tool {

// One line per subcommand; each subcommand's code lives in its own file.

Subcommand copySubcommand();

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> list = {
        copySubcommand(),
    };
    return list;
}

}  // namespace krv::tool
