#include "results_db/store.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "report/text.h"
#include "results_db/archive.h"
#include "results_db/engine_shared.h"

namespace krv::db {

namespace {

constexpr double kInt16Min = -32768;
constexpr double kInt16Max = 32767;
constexpr std::size_t kMaxNameLength = 64;

// Characters, not bytes: a continuation byte of a UTF-8 sequence starts no character.
std::size_t countCharacters(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

bool sameFieldName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

namespace {

// A cell typed into the grid arrives as text; an integer column takes it when it is a
// plain number, and an emptied cell becomes null.
Status textToNumber(std::string_view s, Value& out) {
    s = text::trim(s);
    if (s.empty()) {
        out = std::monostate{};
        return Status::success();
    }
    if (s.front() == '+') s.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec == std::errc::result_out_of_range) return overflow();
    if (ec != std::errc() || end != s.data() + s.size()) return typeMismatch();
    out = v;
    return Status::success();
}

}  // namespace

Status convertForField(const FieldInfo& field, const Value& value, Value& stored) {
    if (std::holds_alternative<std::monostate>(value)) {
        stored = std::monostate{};
        return Status::success();
    }
    if (field.type == FieldType::Int16) {
        Value number = value;
        if (const auto* s = std::get_if<std::string>(&value)) {
            Status st = textToNumber(*s, number);
            if (!st.ok()) return st;
            if (std::holds_alternative<std::monostate>(number)) {
                stored = number;
                return st;
            }
        }
        // Half-way values go to the even neighbour, as the engine's integer conversion
        // has always done (2.5 -> 2, 3.5 -> 4); nearbyint follows the default mode.
        const double rounded = std::nearbyint(std::get<double>(number));
        if (!(rounded >= kInt16Min && rounded <= kInt16Max)) return overflow();
        stored = rounded;
        return Status::success();
    }
    std::string text;
    if (const auto* d = std::get_if<double>(&value)) {
        text = formatGeneral(*d, '.');
    } else {
        text = std::get<std::string>(value);
    }
    if (countCharacters(text) > static_cast<std::size_t>(field.size)) {
        return fieldTooSmall();
    }
    stored = std::move(text);
    return Status::success();
}

Status checkNewFieldName(const std::string& name, const std::vector<FieldInfo>& existing) {
    if (name.empty() || name.front() == ' ' || countCharacters(name) > kMaxNameLength)
        return invalidName(name);
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
            return invalidName(name);
    }
    // A column may shadow the record identity only while another alias remains; taking
    // the names away altogether is simpler than tracking which alias is still free.
    for (const char* alias : {"rowid", "oid", "_rowid_"}) {
        if (sameFieldName(name, alias)) return invalidName(name);
    }
    for (const FieldInfo& f : existing) {
        if (sameFieldName(name, f.name)) return duplicateName();
    }
    return Status::success();
}

Status Database::dropTable(const std::string& table) {
    return Status::failure(err::kEngine,
                           "Database engine error: this store cannot remove the "
                           "table '" +
                               table + "'");
}

Status Database::identityRange(const std::string& table, std::int64_t& lowest,
                               std::int64_t& highest) {
    lowest = highest = 0;
    std::vector<std::int64_t> ids;
    const Status st = recordIds(table, ids);
    if (st.ok() && !ids.empty()) {
        lowest = ids.front();
        highest = ids.back();
    }
    return st;
}

platform::Lookup Engine::locate(const std::string& path) { return platform::findNormalFile(path); }

bool isServerPath(const std::string& path) {
    return path.rfind("postgresql://", 0) == 0 || path.rfind("postgres://", 0) == 0;
}

namespace {

// Picks the engine per call from the path's text, so one engine object serves a window
// whose path box changes between calls.
class PathRoutedEngine : public Engine {
  public:
    Status createDatabase(const std::string& path,
                          const std::function<Status(Database&)>& initialise) override {
        return engineFor(path).createDatabase(path, initialise);
    }
    std::unique_ptr<Database> openDatabase(const std::string& path, Status& status) override {
        return engineFor(path).openDatabase(path, status);
    }
    platform::Lookup locate(const std::string& path) override {
        return engineFor(path).locate(path);
    }
    Status replaceDatabase(const std::string& path,
                           const std::function<Status(Database&)>& initialise) override {
        return engineFor(path).replaceDatabase(path, initialise);
    }

  private:
    Engine& engineFor(const std::string& path) { return isServerPath(path) ? *server_ : *file_; }
    std::unique_ptr<Engine> file_ = makeSqliteEngine();
    std::unique_ptr<Engine> server_ = makePostgresEngine();
};

}  // namespace

std::unique_ptr<Engine> makeEngine() { return std::make_unique<PathRoutedEngine>(); }

}  // namespace krv::db
