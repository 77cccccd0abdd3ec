#pragma once

// One results store of either kind, fresh for each test, with the window state the append
// and the reset read and the boxes they show. The store, viewer, audit and import suites
// all start from it.

#include <gmock/gmock.h>

#include <memory>
#include <string>

#include "results_db/archive.h"
#include "tests/support/raw_db.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/store_kind.h"
#include "tests/support/test_folder.h"

namespace krv::testing {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class StoreBench : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (server()) {
            ASSERT_TRUE(newServerDatabase(path));
        }
        state.apathText = path;
    }
    JobOutcome append() { return appendIt(state, dialogs, *engine, '.'); }
    JobOutcome reset() { return createDb(state, dialogs, *engine); }
    // The title and text of the i-th box shown.
    std::string box(std::size_t i) const {
        return dialogs.shown.at(i).title + ": " + dialogs.shown.at(i).text;
    }
    Raw raw() const { return Raw(GetParam(), path); }
    bool server() const { return GetParam() == Kind::Server; }

    TestFolder tmp;
    std::string path = tmp.file("Results DB.mdb");
    WindowState state;
    RecordingDialogs dialogs;
    std::unique_ptr<db::Engine> engine = db::makeEngine();
};

}  // namespace krv::testing
