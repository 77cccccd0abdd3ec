#include "jet/jet_table.h"

// The Jet reader is built on mdbtools, which Debian does not build for Windows: an old
// results file is refused with where it can be read instead.

namespace krv::jet {

std::string jetReadingUnavailable() {
    return "this build cannot read old Jet (Access) results files; the Linux build imports "
           "them (krvtool import-legacy, or Import legacy database… in its main window)";
}

std::unique_ptr<JetTable> openJetTable(const std::string&, const std::string&, const ReaderOptions&,
                                       Status& status) {
    status = Status::failure(err::kCantOpenDatabase, jetReadingUnavailable());
    return nullptr;
}

}  // namespace krv::jet
