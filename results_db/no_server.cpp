#include "results_db/store.h"

// The build for the counting PC has no client library for the server store: a server
// path is refused with a reason, as any path the engine cannot open would be.

namespace krv::db {

namespace {

Status noServer() {
    return Status::failure(err::kCantOpenDatabase,
                           "this build of the program keeps results in files only; a server "
                           "archive needs the Linux build");
}

class NoServerEngine : public Engine {
  public:
    Status createDatabase(const std::string&, const std::function<Status(Database&)>&) override {
        return noServer();
    }
    Status replaceDatabase(const std::string&, const std::function<Status(Database&)>&) override {
        return noServer();
    }
    std::unique_ptr<Database> openDatabase(const std::string&, Status& status) override {
        status = noServer();
        return nullptr;
    }
    platform::Lookup locate(const std::string&) override { return platform::Lookup::Failed; }
};

}  // namespace

std::unique_ptr<Engine> makePostgresEngine() { return std::make_unique<NoServerEngine>(); }

}  // namespace krv::db
