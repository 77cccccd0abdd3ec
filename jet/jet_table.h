#pragma once

// One table of an old Jet (Access) results file, read front to back. The reading runs in
// a child process (krv-jet-reader), so a damaged file that crashes or hangs the reading
// library costs a message, never this program.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "results_db/schema.h"

namespace krv::jet {

// Column kinds by the type number the file stores.
enum JetKind : int {
    kJetBoolean = 1,
    kJetByte = 2,
    kJetInteger = 3,
    kJetLong = 4,
    kJetCurrency = 5,
    kJetSingle = 6,
    kJetDouble = 7,
    kJetDateTime = 8,
    kJetBinary = 9,
    kJetText = 10,
    kJetOle = 11,
    kJetMemo = 12,
    kJetGuid = 15,
    kJetNumeric = 16,
};

struct JetColumn {
    std::string name;  // UTF-8
    int kind = kJetText;
    int size = 0;  // characters for Text, bytes for the rest
};

// A cell: nothing for NULL; else the stored bytes (little-endian numbers, one byte 0/1
// for Boolean) or, for Text, Memo, Numeric and GUID, the text in UTF-8.
using JetCell = std::optional<std::string>;

class JetTable {
  public:
    virtual ~JetTable() = default;
    virtual const std::vector<JetColumn>& columns() const = 0;
    // The old table's name, as summaries and the trail name it.
    virtual std::string name() const { return kTableName; }
    // The next row in the file's own order. False at the end (status ok) or when the
    // reading failed (status says why; the rows already handed out stand).
    virtual bool next(std::vector<JetCell>& row, Status& status) = 0;
};

struct ReaderOptions {
    std::string readerPath;      // empty: krv-jet-reader beside the running program
    int idleTimeoutMs = 20'000;  // longer without a row means the reader hangs
};

// Why this build cannot read Jet files at all; empty when it can.
std::string jetReadingUnavailable();

// Whether the file starts like a Jet or ACE database (it is not opened for writing).
bool looksLikeJetFile(const std::string& path);

// Starts reading `table` of the Jet file at `path`. Fails for a file that is not a Jet
// database, a file without that table, a damaged file, or a reader that cannot start.
std::unique_ptr<JetTable> openJetTable(const std::string& path, const std::string& table,
                                       const ReaderOptions& options, Status& status);

}  // namespace krv::jet
