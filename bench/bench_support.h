#pragma once

// Pieces every benchmark that builds its own table shares.

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dialogs.h"

namespace krv::bench {

// Nobody watches a benchmark: every question is answered No, every message dropped.
class SilentDialogs : public krv::Dialogs {
  public:
    void message(const std::string&, const std::string&) override {}
    bool askYesNo(const std::string&, const std::string&) override { return false; }
};

// A failed step while building a table ends the benchmark with the engine's reason.
inline void check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

}  // namespace krv::bench
