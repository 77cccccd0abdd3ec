// The old results table into the store. The SamData mapping is driven by a fake table
// reader (the fixtures have no results table); the child-process reader is run on the
// fixture files and checked against what mdb-export (mdbtools) reads from them.

#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "jet/legacy_import.h"
#include "results_db/tests/store_bench.h"
#include "tests/support/case_table.h"

namespace krv::jet {
namespace {

using namespace testing;

// A cell as the case tables write it: d: a double's bytes, f: a float's, x: bytes in hex,
// null: no value, anything else the text itself.
JetCell cellOf(const std::string& code) {
    const std::string rest = code.size() > 2 ? code.substr(2) : "";
    if (code == "null") return std::nullopt;
    if (code.rfind("d:", 0) == 0) {
        const double d = std::stod(rest);
        return std::string(reinterpret_cast<const char*>(&d), 8);
    }
    if (code.rfind("f:", 0) == 0) {
        const float f = std::stof(rest);
        return std::string(reinterpret_cast<const char*>(&f), 4);
    }
    if (code.rfind("x:", 0) != 0) return code;
    std::string bytes;
    for (std::size_t i = 0; i + 1 < rest.size(); i += 2)
        bytes += static_cast<char>(std::stoi(rest.substr(i, 2), nullptr, 16));
    return bytes;
}

TEST(JetValues, AsTheCaseTableSays) {
    for (const auto& c : caseTable("jet_values.tsv", 4)) {
        const JetColumn column{"C", std::stoi(c[0]), std::stoi(c[1])};
        db::Value v;
        std::string text = "error";
        if (decodeCell(column, cellOf(c[2]), v).ok()) {
            const auto* d = std::get_if<double>(&v);
            text = std::holds_alternative<std::monostate>(v) ? "null"
                   : d ? "#" + std::to_string(static_cast<int>(*d))
                       : std::get<std::string>(v);
        }
        EXPECT_EQ(text, c[3]) << c.where("jet_values.tsv");
    }
}

// The old results table of legacy_samdata.tsv and what the import stores of it.
struct OldTable {
    std::vector<JetColumn> columns;
    std::vector<std::vector<JetCell>> records;
    std::vector<std::string> stored;
    Rows out;
};

const OldTable& samData() {
    static const OldTable t = [] {
        OldTable t;
        for (const auto& row : caseTable("legacy_samdata.tsv", 13)) {
            const std::vector<std::string> f(row.fields.begin() + 1, row.fields.end());
            t.columns.resize(f.size());
            if (row[0] == "stored") t.stored = f;
            if (row[0] == "in") t.records.emplace_back();
            if (row[0] == "out") t.out.emplace_back();
            for (std::size_t i = 0; i < f.size(); ++i) {
                JetColumn& c = t.columns[i];
                if (row[0] == "name") c.name = f[i];
                if (row[0] == "kind" || row[0] == "size")
                    (row[0] == "kind" ? c.kind : c.size) = std::stoi(f[i]);
                if (row[0] == "in") t.records.back().push_back(cellOf(f[i]));
                if (row[0] == "out") t.out.back().push_back(f[i] == "null" ? Cell{} : f[i]);
            }
        }
        return t;
    }();
    return t;
}
// A results table as a test describes it, SamData unless told; optionally fails after some rows, as
// a reader does on a damaged page.
class FakeTable : public JetTable {
  public:
    explicit FakeTable(int failAfter = -1, std::vector<JetColumn> columns = samData().columns,
                       std::vector<std::vector<JetCell>> rows = samData().records)
        : columns_(std::move(columns)), rows_(std::move(rows)), failAfter_(failAfter) {}
    const std::vector<JetColumn>& columns() const override { return columns_; }
    bool next(std::vector<JetCell>& row, Status& status) override {
        status = Status::success();
        if (next_ == failAfter_) {
            if (beforeFailing) beforeFailing();
            status = Status::failure(err::kNotADatabase, "the old database is damaged");
            return false;
        }
        if (next_ >= static_cast<int>(rows_.size())) return false;
        row = rows_[static_cast<std::size_t>(next_++)];
        return true;
    }

    std::function<void()> beforeFailing;

  private:
    std::vector<JetColumn> columns_;
    std::vector<std::vector<JetCell>> rows_;
    int failAfter_;
    int next_ = 0;
};

// Stations moving to a shared archive bring the old file straight to the server: there, as
// in a file, a store without a results table takes the old table whole, and one that
// already holds records is refused and left as it was.
class LegacyImport : public StoreBench {
  protected:
    Status import(JetTable& table, const std::string& to, const LegacyProgress& p = {}) {
        return importLegacyTable(table, *engine, to, summary, p);
    }
    Status import(const std::string& to, int failAfter = -1, const LegacyProgress& p = {}) {
        FakeTable table(failAfter);
        return import(table, to, p);
    }
    LegacySummary summary;
};
class FileLegacyImport : public LegacyImport {};
INSTANTIATE_TEST_SUITE_P(BothStores, LegacyImport, bothStores(), kindName);
INSTANTIATE_TEST_SUITE_P(File, FileLegacyImport, ::testing::Values(Kind::File), kindName);

TEST_P(LegacyImport, SamDataKeepsColumnsKindsValuesOrderNullsAndIndex) {
    const Status st = import(path);
    ASSERT_TRUE(st.ok()) << st.description;
    Raw raw = this->raw();
    EXPECT_EQ(raw.columns(), samData().stored);
    std::string all;
    for (const auto& c : samData().columns) all += (all.empty() ? "\"" : ", \"") + c.name + "\"";
    EXPECT_EQ(raw.query("SELECT " + all + " FROM \"SamData\" ORDER BY " + raw.order()),
              samData().out);
    if (!server()) {
        EXPECT_EQ(RawDb(path).scalar("SELECT sql FROM sqlite_master WHERE name = 'idxSeq'"),
                  "CREATE INDEX \"idxSeq\" ON \"SamData\" (\"idxRec#\")");
    }
    EXPECT_EQ(raw.scalar("SELECT \"Operation\" || ': ' || \"Note\" FROM \"KrvAudit\""),
              "import: 3 records from the old results table SamData");
    EXPECT_EQ(std::to_string(summary.columns) + " " + std::to_string(summary.records), "12 3");
    EXPECT_EQ(summary.otherKind,
              (std::vector<std::string>{"\"Checked\" (Boolean) as 16-bit number",
                                        "\"Weight\" (Double) as text of 24",
                                        "\"Measured\" (Date/Time) as text of 23"}));
    EXPECT_EQ(summary.notCarried,
              (std::vector<std::string>{"column \"Photo\" (OLE Object): 1 values left empty"}));
    EXPECT_THAT(import(path).description, HasSubstr("already holds 3 records"));

    // The result is an ordinary results store: the append goes on where the old file ended.
    state.appendMode = 1;
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(raw.scalar("SELECT max(\"idxRec#\") FROM \"SamData\""), "4");
}

TEST_P(FileLegacyImport, DestinationMustBeNewOrEmptyAndAFailureLeavesNothing) {
    // A reset store: the old table's first seven columns are its own, the rest is added.
    const std::string empty = tmp.file("reset.db");
    ASSERT_TRUE(engine->createDatabase(empty, createResultsTable).ok());
    ASSERT_TRUE(import(empty).ok()) << summary.records;
    EXPECT_EQ(RawDb(empty).columns().size(), 12u);
    EXPECT_EQ(RawDb(empty).scalar("SELECT count(*) FROM SamData"), "3");
    // A store with records, a store whose columns differ, a file that is no store: refused
    // and byte for byte unchanged.
    const std::string other = tmp.file("other.db");
    ASSERT_TRUE(engine->createDatabase(other, createResultsTable).ok());
    const std::string text = tmp.file("notes.txt");
    writeFile(text, "not a database");
    auto swapped = samData().columns;
    std::swap(swapped[1], swapped[2]);
    for (const auto& [file, columns, why] :
         {std::tuple{empty, samData().columns, "already holds 3 records"},
          std::tuple{other, swapped, "\"File Name\" is not the old table's column"},
          std::tuple{text, samData().columns, "Unrecognized database format"}}) {
        const std::string before = readFile(file);
        FakeTable table(-1, columns);
        const Status st = import(table, file);
        EXPECT_THAT(st.description, HasSubstr(why));
        EXPECT_EQ(readFile(file), before) << file;
    }
    // The reader fails on the third row, or the user cancels after the first record.
    EXPECT_FALSE(import(path, 2).ok());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(import(other, 2).ok());
    EXPECT_EQ(RawDb(other).scalar("SELECT count(*) FROM SamData"), "0");
    EXPECT_EQ(RawDb(other).columns().size(), 7u);
    EXPECT_EQ(import(path, -1, [](std::int64_t) { return false; }).number, 3059);
    EXPECT_FALSE(std::filesystem::exists(path));
    // Another run makes the same file while this one fails: that file stays as it made it.
    FakeTable racing(2);
    racing.beforeFailing = [&] {
        ASSERT_TRUE(engine->createDatabase(path, createResultsTable).ok());
    };
    EXPECT_FALSE(import(racing, path).ok());
    EXPECT_EQ(RawDb(path).columns().size(), 7u);
    std::filesystem::remove(path);
    // A name the store does not take, and a text longer than its column (a damaged row).
    FakeTable badName(-1, {{"a.b", kJetText, 10}}, {});
    EXPECT_FALSE(import(badName, path).ok());
    FakeTable tooLong(-1, {{"idxRec#", kJetInteger, 2}, {"T", kJetText, 3}},
                      {{cellOf("x:0100"), JetCell("abcd")}});
    const Status st = import(tooLong, path);
    EXPECT_THAT(st.description, HasSubstr("record 1, column \"T\""));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(JetReader, FixturesArriveAsMdbtoolsReadsThemAndFailuresBecomeMessages) {
    TestFolder tmp;
    auto engine = db::makeEngine();
    for (const std::string name : {"testV1997", "delColTestV2000", "overflowTestV1997"}) {
        const std::string old = tmp.file(name + ".mdb");
        std::filesystem::copy_file(std::string(KRV_FIXTURES) + "/" + name + ".mdb", old);
        const std::string before = readFile(old);
        Status st;
        auto table = openJetTable(old, "Table1", {KRV_JET_READER}, st);
        ASSERT_TRUE(table) << name << ": " << st.description;
        const auto columns = table->columns();
        const std::string path = tmp.file(name + ".db");
        LegacySummary summary;
        ASSERT_TRUE(importLegacyTable(*table, *engine, path, summary).ok()) << name;

        std::vector<std::vector<std::string>> ours(1), expected;
        for (const auto& c : columns)  // the kinds as the old program declared them
            ours[0].push_back(c.name + ":" + std::to_string(c.kind) + "/" + std::to_string(c.size));
        for (const auto& row : RawDb(path).query("SELECT * FROM SamData ORDER BY rowid"))
            for (std::size_t c = 0; c < row.size(); ++c)
                (c ? ours.back() : ours.emplace_back()).push_back(row[c].value_or(""));
        for (const auto& row : caseTable("jet_" + name + ".tsv", columns.size()))
            expected.push_back(row.fields);
        EXPECT_EQ(ours, expected) << name;
        EXPECT_EQ(readFile(old), before) << name;
    }

    // A crash, a hang, damage and missing tables become messages.
    const std::string old = tmp.file("testV1997.mdb");
    const auto failureOf = [&](const std::string& path, const std::string& table,
                               const ReaderOptions& options) {
        Status st;
        auto t = openJetTable(path, table, options, st);
        std::vector<JetCell> row;
        while (t && t->next(row, st)) {
        }
        return st.description;
    };
    writeFile(tmp / "text.mdb", "Standard Jet DB? no, a note");
    const std::string bytes = readFile(old);
    writeFile(tmp / "cut.mdb", bytes.substr(0, 3000));
    const std::map<std::string, ReaderOptions> readers = {{"fake", {KRV_FAKE_READER, 500}},
                                                          {"real", {KRV_JET_READER, 5000}},
                                                          {"none", {tmp.file("no-reader")}}};
    for (const auto& c : caseTable("jet_reader_failures.tsv", 4)) {
        const std::string got = failureOf(tmp.file(c[0]), c[1], readers.at(c[2]));
        EXPECT_TRUE(c[3][0] == '=' ? got == c[3].substr(1) : got.find(c[3]) != std::string::npos)
            << c.where("jet_reader_failures.tsv") << ": " << got;
    }

    // Damaged copies: each reads or fails with a message; never a crash of ours.
    std::mt19937 random(12);
    const std::string mutated = tmp.file("mutated.mdb");
    int failed = 0;
    for (int n = 0; n < 24; ++n) {
        std::string copy = bytes;
        for (int k = 0; k < 40; ++k)
            copy[2048 + random() % (copy.size() - 2048)] = static_cast<char>(random());
        writeFile(mutated, copy);
        failed += !failureOf(mutated, "Table1", {KRV_JET_READER, 2000}).empty();
        EXPECT_EQ(readFile(mutated), copy);
    }
    EXPECT_EQ(readFile(old), bytes);
    RecordProperty("damaged copies refused", failed);
}

}  // namespace
}  // namespace krv::jet
