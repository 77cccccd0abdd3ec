// The old results table into the store. The SamData mapping is driven by a fake table
// reader (the fixtures have no results table); the child-process reader is run on the
// fixture files and checked against mdb-export.

#include <QProcess>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>

#include "jet/legacy_import.h"
#include "results_db/archive.h"
#include "tests/support/raw_db.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/store_kind.h"
#include "tests/support/test_folder.h"

namespace krv::jet {
namespace {

using testing::RawDb;
using testing::Rows;

std::string bytesOf(std::uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}
std::string doubleBytes(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return bytesOf(bits, 8);
}

std::string textOf(const JetColumn& c, const JetCell& cell) {
    db::Value v;
    const Status st = decodeCell(c, cell, v);
    if (!st.ok()) return "error";
    if (std::holds_alternative<std::monostate>(v)) return "null";
    if (const auto* d = std::get_if<double>(&v)) return "#" + std::to_string(static_cast<int>(*d));
    return std::get<std::string>(v);
}

TEST(JetValues, NumbersDatesAndMoneyComeOutExact) {
    const JetColumn dbl{"F", kJetDouble, 8};
    for (double d : {0.1, 444.555, 1.0 / 3, 1e-300, -2.5e17, 6.02214076e23}) {
        const std::string text = textOf(dbl, doubleBytes(d));
        EXPECT_EQ(std::stod(text), d) << text;  // reads back as the very same number
        EXPECT_EQ(text.find(','), std::string::npos);
    }
    EXPECT_EQ(textOf(dbl, doubleBytes(444.555)), "444.555");
    float f = 0.1f;
    std::uint32_t fbits;
    std::memcpy(&fbits, &f, 4);
    EXPECT_EQ(textOf({"S", kJetSingle, 4}, bytesOf(fbits, 4)), "0.1");

    const JetColumn date{"G", kJetDateTime, 8};
    const std::pair<double, const char*> dates[] = {
        {0, "1899-12-30 00:00:00"},
        {1, "1899-12-31 00:00:00"},
        {-1.25, "1899-12-29 06:00:00"},  // the fraction is the time also before the epoch
        {37000.5, "2001-04-19 12:00:00"},
        {0.5 + 1.5 / 86400, "1899-12-30 12:00:01.500"},
        {0.9999999999, "1899-12-31 00:00:00"},
        {2958465.99998843, "9999-12-31 23:59:59"},
    };
    for (const auto& [days, text] : dates) EXPECT_EQ(textOf(date, doubleBytes(days)), text) << days;

    const JetColumn money{"H", kJetCurrency, 8};
    EXPECT_EQ(textOf(money, bytesOf(35000, 8)), "3.5000");
    EXPECT_EQ(textOf(money, bytesOf(static_cast<std::uint64_t>(-1), 8)), "-0.0001");
    EXPECT_EQ(textOf(money, bytesOf(std::uint64_t{1} << 63, 8)), "-922337203685477.5808");

    EXPECT_EQ(textOf({"E", kJetLong, 4}, bytesOf(static_cast<std::uint32_t>(-5), 4)), "-5");
    EXPECT_EQ(textOf({"D", kJetInteger, 2}, bytesOf(0xFFFE, 2)), "#-2");
    EXPECT_EQ(textOf({"C", kJetByte, 1}, bytesOf(255, 1)), "#255");
    EXPECT_EQ(textOf({"I", kJetBoolean, 0}, bytesOf(1, 1)), "#-1");
    EXPECT_EQ(textOf({"I", kJetBoolean, 0}, bytesOf(0, 1)), "#0");
    EXPECT_EQ(textOf({"B", kJetBinary, 4}, std::string("\x01\xAB", 2)), "01AB");
    EXPECT_EQ(textOf({"A", kJetText, 50}, std::string("\xC3\x98")), "\xC3\x98");
    EXPECT_EQ(textOf(dbl, std::nullopt), "null");
    EXPECT_EQ(textOf(dbl, std::string("\x01\x02", 2)), "error");  // damaged: wrong size
    EXPECT_EQ(textOf({"D", kJetInteger, 2}, std::string(3, '\0')), "error");
}

// A results table as a test describes it; optionally fails after some rows, as a reader
// does on a damaged page.
class FakeTable : public JetTable {
  public:
    FakeTable(std::vector<JetColumn> columns, std::vector<std::vector<JetCell>> rows,
              int failAfter = -1)
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

std::vector<JetColumn> samDataColumns() {
    return {{"idxRec#", kJetInteger, 2},   {"File Name", kJetText, 255},
            {"ID Text", kJetText, 128},    {"Date & time", kJetText, 30},
            {"Sample Date", kJetText, 24}, {"Counting Time", kJetText, 10},
            {"DT %", kJetText, 10},        {"CS-137@NET1", kJetText, 10},
            {"Checked", kJetBoolean, 0},   {"Weight", kJetDouble, 8},
            {"Measured", kJetDateTime, 8}, {"Photo", kJetOle, 0}};
}

std::vector<std::vector<JetCell>> samDataRows() {
    const auto n = [](int v) { return JetCell(bytesOf(static_cast<std::uint16_t>(v), 2)); };
    return {
        {n(1), "S0421.CNF",
         "SOIL \xC3\x98"
         "50",
         "5/14/02  09:31:05", "5/14/02", "3600", "3.2", "11902", bytesOf(1, 1), doubleBytes(0.1),
         doubleBytes(37000.5), std::string("\x01")},
        {n(2), "", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
         std::nullopt, bytesOf(0, 1), std::nullopt, std::nullopt, std::nullopt},
        {n(2), "DUP.CNF", "same number twice", "", "", "0", "0", "", bytesOf(0, 1),
         doubleBytes(-1e-300), doubleBytes(-1.25), std::nullopt},
    };
}

class LegacyImport : public ::testing::Test {
  protected:
    Status import(JetTable& table, const std::string& dest, const LegacyProgress& p = {}) {
        return importLegacyTable(table, *engine, dest, summary, p);
    }
    testing::TestFolder tmp;
    std::string dest = tmp.file("new.db");
    std::unique_ptr<db::Engine> engine = db::makeEngine();
    LegacySummary summary;
};

// Stations moving to a shared archive bring the old file straight to the server: there, as
// in a file, a store without a results table takes the old table whole, and one that
// already holds records is refused and left as it was.
class LegacyImportTo : public LegacyImport, public ::testing::WithParamInterface<testing::Kind> {
  protected:
    void SetUp() override {
        if (GetParam() == testing::Kind::Server) {
            ASSERT_TRUE(testing::newServerDatabase(dest));
        }
    }
};
INSTANTIATE_TEST_SUITE_P(BothStores, LegacyImportTo, testing::bothStores(), testing::kindName);

TEST_P(LegacyImportTo, SamDataKeepsColumnsKindsValuesOrderNullsAndIndex) {
    FakeTable table(samDataColumns(), samDataRows());
    const Status st = import(table, dest);
    ASSERT_TRUE(st.ok()) << st.description;
    testing::Raw raw(GetParam(), dest);
    EXPECT_EQ(raw.columns(),
              (std::vector<std::string>{
                  "idxRec# SMALLINT", "File Name VARCHAR(255)", "ID Text VARCHAR(128)",
                  "Date & time VARCHAR(30)", "Sample Date VARCHAR(24)", "Counting Time VARCHAR(10)",
                  "DT % VARCHAR(10)", "CS-137@NET1 VARCHAR(10)", "Checked SMALLINT",
                  "Weight VARCHAR(24)", "Measured VARCHAR(23)", "Photo VARCHAR(255)"}));
    std::string all;
    for (const auto& c : samDataColumns()) all += (all.empty() ? "\"" : ", \"") + c.name + "\"";
    using C = testing::Cell;
    const C null;
    EXPECT_EQ(raw.query("SELECT " + all + " FROM \"SamData\" ORDER BY " + raw.order()),
              (Rows{{C("1"), C("S0421.CNF"),
                     C("SOIL \xC3\x98"
                       "50"),
                     C("5/14/02  09:31:05"), C("5/14/02"), C("3600"), C("3.2"), C("11902"), C("-1"),
                     C("0.1"), C("2001-04-19 12:00:00"), null},
                    {C("2"), C(""), null, null, null, null, null, null, C("0"), null, null, null},
                    {C("2"), C("DUP.CNF"), C("same number twice"), C(""), C(""), C("0"), C("0"),
                     C(""), C("0"), C("-1e-300"), C("1899-12-29 06:00:00"), null}}));
    if (GetParam() == testing::Kind::File) {
        EXPECT_EQ(RawDb(dest).scalar("SELECT sql FROM sqlite_master WHERE name = 'idxSeq'"),
                  C("CREATE INDEX \"idxSeq\" ON \"SamData\" (\"idxRec#\")"));
    }
    EXPECT_EQ(raw.scalar("SELECT \"Operation\" || ': ' || \"Note\" FROM \"KrvAudit\""),
              C("import: 3 records from the old results table SamData"));
    EXPECT_EQ(summary.columns, 12);
    EXPECT_EQ(summary.records, 3);
    EXPECT_EQ(summary.otherKind,
              (std::vector<std::string>{"\"Checked\" (Boolean) as 16-bit number",
                                        "\"Weight\" (Double) as text of 24",
                                        "\"Measured\" (Date/Time) as text of 23"}));
    EXPECT_EQ(summary.notCarried,
              (std::vector<std::string>{"column \"Photo\" (OLE Object): 1 values left empty"}));
    FakeTable again(samDataColumns(), samDataRows());
    EXPECT_NE(import(again, dest).description.find("already holds 3 records"), std::string::npos);

    // The result is an ordinary results store: the append goes on where the old file ended.
    WindowState state;
    state.apathText = dest;
    state.appendMode = 1;
    testing::RecordingDialogs dialogs;
    ASSERT_TRUE(appendIt(state, dialogs, *engine, '.').ok);
    EXPECT_EQ(raw.scalar("SELECT max(\"idxRec#\") FROM \"SamData\""), C("4"));
}

TEST_F(LegacyImport, DestinationMustBeNewOrEmptyAndAFailureLeavesNothing) {
    // A reset store: the old table's first seven columns are its own, the rest is added.
    const std::string empty = tmp.file("reset.db");
    ASSERT_TRUE(engine->createDatabase(empty, createResultsTable).ok());
    {
        FakeTable table(samDataColumns(), samDataRows());
        ASSERT_TRUE(import(table, empty).ok()) << summary.records;
        EXPECT_EQ(RawDb(empty).columns().size(), 12u);
        EXPECT_EQ(RawDb(empty).scalar("SELECT count(*) FROM SamData"), "3");
    }
    // A store with records, a store whose columns differ, a file that is no store: refused
    // and byte for byte unchanged.
    const std::string other = tmp.file("other.db");
    ASSERT_TRUE(engine->createDatabase(other, createResultsTable).ok());
    const std::string text = tmp.file("notes.txt");
    testing::writeFile(text, "not a database");
    auto swapped = samDataColumns();
    std::swap(swapped[1], swapped[2]);
    for (const auto& [path, columns, why] :
         {std::tuple{empty, samDataColumns(), "already holds 3 records"},
          std::tuple{other, swapped, "\"File Name\" is not the old table's column"},
          std::tuple{text, samDataColumns(), "Unrecognized database format"}}) {
        const std::string before = testing::readFile(path);
        FakeTable table(columns, samDataRows());
        const Status st = import(table, path);
        EXPECT_NE(st.description.find(why), std::string::npos) << st.description;
        EXPECT_EQ(testing::readFile(path), before) << path;
    }
    // The reader fails on the third row, or the user cancels after the first record.
    {
        FakeTable table(samDataColumns(), samDataRows(), 2);
        EXPECT_FALSE(import(table, dest).ok());
        EXPECT_FALSE(std::filesystem::exists(dest));
        FakeTable again(samDataColumns(), samDataRows(), 2);
        EXPECT_FALSE(import(again, other).ok());
        EXPECT_EQ(RawDb(other).scalar("SELECT count(*) FROM SamData"), "0");
        EXPECT_EQ(RawDb(other).columns().size(), 7u);
        FakeTable cancelled(samDataColumns(), samDataRows());
        EXPECT_EQ(import(cancelled, dest, [](std::int64_t) { return false; }).number, 3059);
        EXPECT_FALSE(std::filesystem::exists(dest));
    }
    // Another run makes the same file while this one fails: that file stays as it made it.
    {
        FakeTable table(samDataColumns(), samDataRows(), 2);
        table.beforeFailing = [&] {
            ASSERT_TRUE(engine->createDatabase(dest, createResultsTable).ok());
        };
        EXPECT_FALSE(import(table, dest).ok());
        EXPECT_EQ(RawDb(dest).columns().size(), 7u);
        std::filesystem::remove(dest);
    }
    // A name the store does not take, and a text longer than its column (a damaged row).
    {
        FakeTable badName({{"a.b", kJetText, 10}}, {});
        EXPECT_FALSE(import(badName, dest).ok());
        FakeTable tooLong({{"idxRec#", kJetInteger, 2}, {"T", kJetText, 3}},
                          {{bytesOf(1, 2), JetCell("abcd")}});
        const Status st = import(tooLong, dest);
        EXPECT_NE(st.description.find("record 1, column \"T\""), std::string::npos)
            << st.description;
        EXPECT_FALSE(std::filesystem::exists(dest));
    }
}

// mdb-export's CSV: quoted texts, bare numbers, one row a line (the fixtures hold no
// line breaks inside values).
std::vector<std::vector<std::string>> mdbExport(const std::string& file) {
    QProcess p;
    p.start(QStringLiteral("mdb-export"), {QString::fromStdString(file), QStringLiteral("Table1")});
    EXPECT_TRUE(p.waitForFinished(30'000)) << "mdb-export (package mdbtools) is needed";
    std::vector<std::vector<std::string>> rows;
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) continue;
        auto& row = rows.emplace_back(1);
        bool quoted = false;
        for (char c : lines[i]) {
            if (c == '"') {
                quoted = !quoted;
            } else if (c == ',' && !quoted) {
                row.emplace_back();
            } else {
                row.back() += c;
            }
        }
    }
    return rows;
}

// mdb-export's forms of our values: Booleans 1/0, dates as mm/dd/yy hh:mm:ss.
std::string asMdbExport(const JetColumn& c, const testing::Cell& ours) {
    if (!ours) return "";
    if (c.kind == kJetBoolean) return *ours == "-1" ? "1" : "0";
    if (c.kind == kJetDateTime) {
        const std::string& d = *ours;  // YYYY-MM-DD hh:mm:ss
        return d.substr(5, 2) + "/" + d.substr(8, 2) + "/" + d.substr(2, 2) + d.substr(10);
    }
    return *ours;
}

TEST(JetReader, FixtureTablesArriveAsMdbExportReadsThemAndTheFileStaysUnchanged) {
    testing::TestFolder tmp;
    auto engine = db::makeEngine();
    for (const char* name : {"testV1997.mdb", "delColTestV2000.mdb", "overflowTestV1997.mdb"}) {
        const std::string old = tmp.file(name);
        std::filesystem::copy_file(std::string(KRV_FIXTURES) + "/" + name, old);
        const std::string before = testing::readFile(old);
        Status st;
        auto table = openJetTable(old, "Table1", {KRV_JET_READER}, st);
        ASSERT_TRUE(table) << name << ": " << st.description;
        const auto columns = table->columns();
        const std::string dest = tmp.file(std::string(name) + ".db");
        LegacySummary summary;
        ASSERT_TRUE(importLegacyTable(*table, *engine, dest, summary).ok()) << name;

        const auto expected = mdbExport(old);
        ASSERT_FALSE(expected.empty()) << name;
        const Rows ours = RawDb(dest).query("SELECT * FROM SamData ORDER BY rowid");
        ASSERT_EQ(ours.size(), expected.size()) << name;
        for (std::size_t r = 0; r < ours.size(); ++r) {
            ASSERT_EQ(ours[r].size(), columns.size());
            ASSERT_EQ(expected[r].size(), columns.size());
            for (std::size_t c = 0; c < columns.size(); ++c)
                EXPECT_EQ(asMdbExport(columns[c], ours[r][c]), expected[r][c])
                    << name << " row " << r << " column " << columns[c].name;
        }
        EXPECT_EQ(testing::readFile(old), before) << name;
    }
    // The Jet 3 fixture's column kinds, as the old program declared them.
    Status st;
    auto table = openJetTable(tmp.file("testV1997.mdb"), "Table1", {KRV_JET_READER}, st);
    ASSERT_TRUE(table);
    std::string kinds;
    for (const auto& c : table->columns())
        kinds += c.name + ":" + std::to_string(c.kind) + "/" + std::to_string(c.size) + " ";
    EXPECT_EQ(kinds, "A:10/50 B:10/100 C:2/1 D:3/2 E:4/4 F:7/8 G:8/8 H:5/8 I:1/0 ");
}

TEST(JetReader, CrashHangDamageAndMissingTablesBecomeMessages) {
    testing::TestFolder tmp;
    const std::string old = tmp.file("old.mdb");
    std::filesystem::copy_file(std::string(KRV_FIXTURES) + "/testV1997.mdb", old);
    const auto failureOf = [&](const std::string& path, const std::string& table,
                               const ReaderOptions& options) {
        Status st;
        auto t = openJetTable(path, table, options, st);
        std::vector<JetCell> row;
        while (t && t->next(row, st)) {
        }
        return st.description;
    };
    const ReaderOptions fake{KRV_FAKE_READER, 500};
    EXPECT_NE(failureOf(old, "crash", fake).find("its reader crashed"), std::string::npos);
    EXPECT_NE(failureOf(old, "hang", fake).find("stopped answering"), std::string::npos);
    EXPECT_NE(failureOf(old, "short-row", fake).find("unexpected row"), std::string::npos);
    EXPECT_NE(failureOf(old, "stop", fake).find("ended early"), std::string::npos);
    EXPECT_EQ(failureOf(old, "ok", fake), "");
    EXPECT_NE(failureOf(old, "SamData", {tmp.file("no-reader")}).find("could not be started"),
              std::string::npos);

    const ReaderOptions real{KRV_JET_READER, 5000};
    EXPECT_EQ(failureOf(old, "SamData", real), "the old database has no table SamData");
    const std::string bytes = testing::readFile(old);
    testing::writeFile(tmp / "text.mdb", "Standard Jet DB? no, a note");
    EXPECT_EQ(failureOf(tmp.file("text.mdb"), "Table1", real),
              "not a Jet (Access) database, or it cannot be read");
    testing::writeFile(tmp / "cut.mdb", bytes.substr(0, 3000));
    EXPECT_NE(failureOf(tmp.file("cut.mdb"), "Table1", real).find("damaged"), std::string::npos);

    // Damaged copies: each reads or fails with a message; never a crash of ours.
    std::mt19937 random(12);
    const std::string mutated = tmp.file("mutated.mdb");
    int failed = 0;
    for (int n = 0; n < 24; ++n) {
        std::string copy = bytes;
        for (int k = 0; k < 40; ++k)
            copy[2048 + random() % (copy.size() - 2048)] = static_cast<char>(random());
        testing::writeFile(mutated, copy);
        failed += !failureOf(mutated, "Table1", {KRV_JET_READER, 2000}).empty();
        EXPECT_EQ(testing::readFile(mutated), copy);
    }
    EXPECT_EQ(testing::readFile(old), bytes);
    RecordProperty("damaged copies refused", failed);
}

}  // namespace
}  // namespace krv::jet
