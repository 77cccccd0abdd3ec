// Every form read back with readers the export did not write: Python's csv module and
// openpyxl, and the sqlite3 shell's .import.

#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <sstream>

#include "export/forms.h"
#include "export/results_export.h"
#include "export/values.h"
#include "platform/output_files.h"
#include "platform/runs.h"
#include "results_db/archive.h"
#include "tests/support/case_table.h"
#include "tests/support/process_run.h"
#include "tests/support/raw_db.h"
#include "tests/support/results_table.h"
#include "tests/support/test_folder.h"

namespace krv::exports {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TestFolder;
using testing::writeFile;

// A reader we did not write, given what Python prints as text.
testing::ProcessRun python(const QStringList& args) {
    testing::ProcessSetup utf8;
    utf8.environment = {{QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8")}};
    return testing::runJobProcess(QStringLiteral("/usr/bin/python3"), args, utf8);
}

// What Python's csv module ("csv") or openpyxl ("xlsx": the sheet's settings line, then
// typed cells) reads from an exported file: rows on lines, cells between tabs.
std::string readBack(const char* reader, const std::string& file) {
    const testing::ProcessRun r = python({KRV_READ_BACK, reader, QString::fromStdString(file)});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}
// What SENAITE's two-dimension parser makes of a lims2d file, compared with the database by
// a reader that follows SENAITE's own rules: "ok: ..." or one line per difference.
std::string senaiteReads(const std::string& file, const std::string& db,
                         const QStringList& options = {}) {
    const testing::ProcessRun r =
        python(QStringList{KRV_SENAITE, QString::fromStdString(file), QString::fromStdString(db)} +
               options);
    return (r.status == 0 ? "" : "exit " + std::to_string(r.status) + ": ") + r.out;
}

// What a reader printed for a form, kept under tests/data/export_read_back/.
std::string expected(const std::string& name) {
    return readFile(std::string(KRV_TEST_DATA) + "/export_read_back/" + name);
}

const std::vector<std::string> kIsotopes = {"CS-137",        "CO-60@LINE2",   "K-40@NET1",
                                            "TL-208@583:19", "PB-210@GROSS1", "U-235@BKG1"};

// Records as stored: padded texts, a quote, commas, line breaks, non-ASCII, NULLs and the
// decimal comma of a German-set machine.
std::vector<std::vector<db::Value>> sampleRecords() {
    using V = db::Value;
    const V null{};
    return {
        {V(1.0), V("S0421.CNF         "), V("He said \"hi\", then left"), V("5/14/02  09:31:05"),
         V("Sample, Date"), V("3600"), V(" 3.2"), V("12,31"), V("1,5E-03"), V("ND"), null,
         V("583.2"), V("-0.5")},
        {V(2.0), V("line\r\nbreak"), V("Ünïcödé Ø50 µSv"), V(""), null, V("3600"), V("3,2"), null,
         null, V("7"), V("0012"), null, null},
    };
}

struct ExportTest : ::testing::Test {
    TestFolder folder;
    std::string dbPath = folder.file("results.db");
    std::unique_ptr<db::Engine> engine = db::makeEngine();

    void build(const std::vector<std::string>& isotopes,
               const std::vector<std::vector<db::Value>>& records) {
        const Status st = testing::buildResultsDb(*engine, dbPath, isotopes, records);
        ASSERT_TRUE(st.ok()) << st.description;
    }

    std::vector<Note> notes;
    std::string streamed;  // what the last export to a stream wrote
    // To `target`, or to a stream when it is empty.
    Status exportTo(const std::string& target, const Options& options,
                    const ProgressFn& progress = {}) {
        Status st;
        auto database = engine->openDatabase(dbPath, st);
        if (!database) return st;
        notes.clear();
        const NoteFn note = [this](const Note& n) { notes.push_back(n); };
        if (!target.empty())
            return exportToFile(*database, options, target, progress, dbPath, note);
        std::ostringstream out;
        st = exportToStream(*database, options, out, progress, note);
        streamed = out.str();
        return st;
    }
    std::string noteLines() const {
        std::string lines;
        for (const Note& n : notes)
            lines += std::to_string(n.record) + " " + n.column + ": " + n.text + "\n";
        return lines;
    }
    std::size_t fileCount() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()));
    }
    std::string exported(Format format, Options options = {}) {
        options.format = format;
        const std::string out = folder.file(std::string("out") + formatSuffix(format));
        const Status st = exportTo(out, options);
        EXPECT_TRUE(st.ok()) << st.description;
        return out;
    }
};

TEST(StoredValues, NumbersNamesAndPadding) {
    for (const auto& c : testing::caseTable("export_values.tsv", 5)) {
        if (c[0] == "number") {
            const std::optional<double> want =
                c[2] == "none" ? std::nullopt : std::optional(std::stod(c[2]));
            EXPECT_EQ(readStoredNumber(c[1]), want) << c.where("export_values.tsv");
            continue;
        }
        const IsotopeColumn column = parseIsotopeColumn(c[1]);
        EXPECT_EQ(column.nuclide + "|" + column.line + "|" + column.quantity,
                  c[2] + "|" + c[3] + "|" + c[4])
            << c.where("export_values.tsv");
    }
    EXPECT_EQ(trimPadding(std::string("ab  \0\0 ", 7)), "ab");
}

TEST(SheetText, SaysWhatASheetCannotHold) {
    const std::string longText(40001, 'x');
    const struct {
        std::string in, out, changes;
    } cases[] = {
        {"plain Ø", "plain Ø", ""},
        {std::string("pad\0\0", 5), "pad", ""},
        {"a\x01"
         "b",
         "ab", "control character U+0001 left out, a sheet cannot hold it"},
        {std::string("a\0b", 3), "ab", "control character U+0000 left out, a sheet cannot hold it"},
        {"x\r\ny", "x\ny", "line break CR LF written as LF"},
        {"x\ry", "x\ny", "line break CR written as LF"},
        {"\xff!", "\xEF\xBF\xBD!", "bytes that are no UTF-8 written as U+FFFD"},
        {longText, longText.substr(0, 32767), "cut to 32767 of 40001 characters, a cell's limit"},
        {"\x02" + longText + "\r\n", longText.substr(0, 32767),
         "cut to 32767 of 40002 characters, a cell's limit; control character U+0002 left out, "
         "a sheet cannot hold it; line break CR LF written as LF"},
    };
    for (const auto& c : cases) {
        std::string out, changes;
        sheetText(c.in, out, changes);
        EXPECT_EQ(out, c.out) << c.in.substr(0, 20);
        EXPECT_EQ(changes, c.changes) << c.in.substr(0, 20);
    }
}

TEST_F(ExportTest, CsvReadsBackWithPythonAndLoadsBackWithSqlite) {
    build(kIsotopes, sampleRecords());
    Options keep;
    keep.keepPadding = true;
    const std::string file = exported(Format::Csv, keep);
    EXPECT_EQ(readBack("csv", file), expected("csv_padded.txt"));
    // sqlite3's own CSV import, into a table it makes from the header, gives the same values.
    std::string cols;
    for (const std::string& c : testing::RawDb(dbPath).columns())
        cols += (cols.empty() ? "coalesce(\"" : ", coalesce(\"") + c.substr(0, c.rfind(' ')) +
                "\", '')";
    const testing::ProcessRun load = testing::runJobProcess(
        QStringLiteral("sqlite3"), {QString::fromStdString(folder.file("back.db")),
                                    QString::fromStdString(".import --csv '" + file + "' t")});
    ASSERT_EQ(load.status, 0) << load.err;
    testing::RawDb original(dbPath), back(folder.file("back.db"));
    EXPECT_EQ(back.query("SELECT " + cols + " FROM t ORDER BY rowid"),
              original.query("SELECT " + cols + " FROM SamData ORDER BY rowid"));
    // Without --keep-padding the fixed-width padding goes.
    EXPECT_NE(readBack("csv", exported(Format::Csv)).find("\n1\tS0421.CNF\tHe said"),
              std::string::npos);
}

// Numbers as numbers, texts as texts, frozen panes, a filter and the stored widths (100
// twips or less means automatic).
TEST_F(ExportTest, XlsxHasNumbersTextsFrozenPanesFilterAndStoredWidths) {
    build(kIsotopes, sampleRecords());
    Options o;
    o.widthsTwips[2] = 3000;  // ID Text
    o.widthsTwips[3] = 100;
    EXPECT_EQ(readBack("xlsx", exported(Format::Xlsx, o)), expected("xlsx_widths.txt"));
}

TEST_F(ExportTest, XlsxSaysWhichCellsItCouldNotCarryAsStored) {
    // A store edited by hand: control characters, a broken byte, a NUL inside a text, a
    // text longer than a cell, a line break of two characters.
    std::string longText;
    for (int i = 0; i < 40001; ++i) longText += "é";
    build({}, {{db::Value(1.0),
                db::Value(std::string("a\x01"
                                      "b\xff"
                                      "c\0d   ",
                                      9)),
                db::Value(longText), db::Value("x\r\ny"), db::Value("fine")}});
    const std::string sheet = readBack("xlsx", exported(Format::Xlsx));
    EXPECT_EQ(sheet.substr(sheet.find("\nn:")),
              "\nn:1\ts:ab\xEF\xBF\xBD"
              "cd\ts:" +
                  longText.substr(0, 2 * 32767) + "\ts:x\\ny\ts:fine\t-\t-\n");
    EXPECT_EQ(noteLines(),
              "1 File Name: control character U+0001 left out, a sheet cannot hold it; bytes "
              "that are no UTF-8 written as U+FFFD\n"
              "1 ID Text: cut to 32767 of 40001 characters, a cell's limit\n"
              "1 Date & time: line break CR LF written as LF\n");
    // csv carries every one of them exactly.
    exported(Format::Csv);
    EXPECT_EQ(noteLines(), "");
}

TEST_F(ExportTest, LongFormHasOneRowPerValueWithItsMeaning) {
    build(kIsotopes, sampleRecords());
    EXPECT_EQ(readBack("csv", exported(Format::Long)), expected("long.txt"));
    Options only;
    only.columns = {"CO-60*", "U-235@BKG1"};
    only.firstRecord = 1;
    only.lastRecord = 1;
    EXPECT_EQ(readBack("csv", exported(Format::Long, only)), expected("long_some.txt"));
}

TEST_F(ExportTest, LimsTwoDimensionLayoutKeywordMapAndSampleIdentifier) {
    auto records = sampleRecords();
    records[0][2] = db::Value("  SOIL B-17  ");
    build(kIsotopes, records);
    // The LIMS splits at commas without quoting: read the lines as it does.
    EXPECT_EQ(readFile(exported(Format::Lims2d)),
              ",CS-137,CO-60@LINE2,K-40@NET1,TL-208@583:19,PB-210@GROSS1,U-235@BKG1,end\r\n"
              "SOIL B-17,12.31,0.0015,ND,,583.2,-0.5,\r\n"
              "Ünïcödé Ø50 µSv,,,7,12,,,\r\n"
              "end,,,,,,,\r\n");

    Options mapped;
    ASSERT_TRUE(
        readKeywordMap("# column, keyword\n\"U-235@BKG1\",U235\nCS-137,Cs137\n\n", mapped.keywords)
            .ok());
    mapped.sampleIdFromFileName = true;
    mapped.lastRecord = 1;
    EXPECT_EQ(readFile(exported(Format::Lims2d, mapped)),
              ",U235,Cs137,end\r\nS0421.CNF,-0.5,12.31,\r\nend,,,\r\n");

    // Record 2's file name holds a line break, which the LIMS cannot carry: nothing written.
    mapped.lastRecord = 0;
    mapped.format = Format::Lims2d;
    const std::string target = folder.file("lims.csv");
    const Status st = exportTo(target, mapped);
    EXPECT_EQ(st.number, kNotRepresentable);
    EXPECT_NE(st.description.find("record 2"), std::string::npos) << st.description;
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(fileCount(), 2u) << "only the database and the earlier export";
}

// SENAITE's own parsing rules, in a reader we did not write, for each rule set.
TEST_F(ExportTest, LimsFileReadsBackAsSenaiteImportsIt) {
    auto records = sampleRecords();
    records[0][2] = db::Value("  SOIL B-17  ");
    records.push_back({db::Value(3.0), db::Value("c.CNF"), db::Value("1E5"), db::Value(""),
                       db::Value(""), db::Value("10"), db::Value("1"), db::Value("--"),
                       db::Value("-0"), db::Value(" 4,25 "), db::Value("1E5"), db::Value("0"),
                       db::Value("ND")});
    build(kIsotopes, records);
    writeFile(folder / "map.csv", "CS-137,Cs-137 (1)\nK-40@NET1,K40\n");
    const struct {
        LimsRules rules;
        const char* version;
        bool mapped;
        const char* reads;
    } cases[] = {{LimsRules::Senaite25, "2.6", false, "ok: 3 samples, 18 results\n"},
                 {LimsRules::Senaite21, "2.4", false, "ok: 3 samples, 18 results\n"},
                 {LimsRules::Senaite20, "2.0", false, "ok: 3 samples, 18 results\n"},
                 {LimsRules::Senaite25, "2.5", true, "ok: 3 samples, 6 results\n"},
                 {LimsRules::Senaite20, "1.3", true, "ok: 3 samples, 6 results\n"}};
    for (const auto& c : cases) {
        Options o;
        o.limsRules = c.rules;
        QStringList reader{"--lims-version", c.version};
        if (c.mapped) {
            o.keywords = {{"CS-137", "Cs-137 (1)"}, {"K-40@NET1", "K40"}};
            reader << "--keywords" << QString::fromStdString(folder.file("map.csv"));
        }
        EXPECT_EQ(senaiteReads(exported(Format::Lims2d, o), dbPath, reader), c.reads) << c.version;
    }
}

// Whatever SENAITE would skip, merge or turn into another number fails the export before
// anything is written, to a file or to a stream, naming the record.
TEST_F(ExportTest, LimsRefusesWhatSenaiteWouldMisread) {
    for (const auto& c : testing::caseTable("lims_refusals.tsv", 4)) {
        const std::string& says = c[2];
        auto records = sampleRecords();
        records[0][2] = db::Value("S-1");
        records[1][2] = db::Value("S-2");
        if (const int column = std::stoi(c[0])) records[1][column] = db::Value(c[1]);
        fs::remove(dbPath);
        build(kIsotopes, records);
        Options o;
        o.format = Format::Lims2d;
        o.limsRules = c[3].empty() ? LimsRules::Senaite25 : LimsRules::Senaite20;
        std::istringstream keywords(c[3]);
        for (std::string pair; std::getline(keywords, pair, ';');)
            o.keywords.emplace_back(pair.substr(0, pair.find('=')),
                                    pair.substr(pair.find('=') + 1));
        const Status st = exportTo(folder.file("lims.csv"), o);
        EXPECT_EQ(st.number, kNotRepresentable) << says;
        EXPECT_NE(st.description.find(says), std::string::npos) << st.description;
        EXPECT_EQ(fileCount(), 1u) << says;
        EXPECT_EQ(exportTo("", o).number, kNotRepresentable) << says;
        EXPECT_EQ(streamed, "") << says;
    }
}

TEST_F(ExportTest, LimsDuplicatesGoOutOncePickedAsAsked) {
    auto records = sampleRecords();
    records[0][2] = db::Value("S-1");
    records[1][2] = db::Value("S-1");
    records.push_back(records[0]);
    records.back()[0] = db::Value(3.0);
    records.back()[2] = db::Value("S-3");
    build(kIsotopes, records);
    for (const auto& [how, name, line] :
         {std::tuple{Duplicates::First, "first", "S-1,12.31,0.0015,ND,,583.2,-0.5,\r\n"},
          std::tuple{Duplicates::Last, "last", "S-1,,,7,12,,,\r\n"}}) {
        Options o;
        o.duplicates = how;
        const std::string file = exported(Format::Lims2d, o);
        const std::string text = readFile(file);
        EXPECT_NE(text.find(line), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].text, std::string("1 record left out for ") +
                                     (how == Duplicates::First ? "an earlier" : "a later") +
                                     " record of the same sample identifier");
        EXPECT_EQ(senaiteReads(file, dbPath, {"--duplicates", name}),
                  "ok: 2 samples, 12 results\n");
    }
}

// A table of several chunks, the first alone more than the writer buffers, whose last
// record cannot go to the LIMS: not one byte reaches the stream (the LIMS itself would
// accept a file that stops early).
TEST_F(ExportTest, LimsStreamGetsNothingWhenTheLastRecordFails) {
    std::vector<std::string> isotopes;
    for (int i = 1; i <= 30; ++i) isotopes.push_back("N-" + std::to_string(i));
    std::vector<db::Value> record = {db::Value(1.0), db::Value("F.CNF"), db::Value("SAMPLE-1"),
                                     db::Value(""),  db::Value(""),      db::Value("3600"),
                                     db::Value("1")};
    record.resize(7 + isotopes.size(), db::Value("12,5"));
    build(isotopes, {record});
    testing::repeatFirstRecord(dbPath, 4500, "SAMPLE-");
    testing::RawDb raw(dbPath);
    raw.query("UPDATE SamData SET \"N-30\" = 'n/a' WHERE \"idxRec#\" = 4500");
    Options o;
    o.format = Format::Lims2d;
    const Status st = exportTo("", o);
    EXPECT_EQ(st.number, kNotRepresentable);
    EXPECT_NE(st.description.find("record 4500"), std::string::npos) << st.description;
    EXPECT_EQ(streamed.size(), 0u);
    raw.query("UPDATE SamData SET \"N-30\" = '1' WHERE \"idxRec#\" = 4500");
    EXPECT_TRUE(exportTo("", o).ok());
    EXPECT_GT(streamed.size(), 4500u * 150);
}

// Replacing a file by renaming needs only the folder's permission, so a read-only file
// would go unnoticed; and the replacement must not reset who may read the file.
TEST_F(ExportTest, TargetsKeepTheirModeAndReadOnlyOnesStay) {
    build(kIsotopes, sampleRecords());
    const std::string target = folder.file("out.csv");
    using P = fs::perms;
    for (const auto& [mode, force, replaced] :
         {std::tuple{P::owner_read | P::group_read | P::others_read, false, false},
          std::tuple{P::owner_read | P::group_read | P::others_read, true, true},
          std::tuple{P::owner_read | P::owner_write | P::group_read, false, true}}) {
        fs::remove(target);
        writeFile(target, "previous export");
        fs::permissions(target, mode);
        Options o;
        o.replaceReadOnly = force;
        const Status st = exportTo(target, o);
        EXPECT_EQ(st.ok(), replaced) << st.description;
        if (!replaced) {
            EXPECT_EQ(st.number, err::kPermissionDenied);
            EXPECT_EQ(st.description, "is read-only");
        }
        EXPECT_EQ(readFile(target) == "previous export", !replaced);
        EXPECT_EQ(fs::status(target).permissions(), mode);
        EXPECT_EQ(fileCount(), 2u);
    }
}

// Private files of killed exports on this machine go; a live run's and another machine's
// stay.
TEST_F(ExportTest, LeftoversOfDeadRunsAreRemoved) {
    build(kIsotopes, sampleRecords());
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    ASSERT_TRUE(gone.waitForStarted());
    const long deadPid = static_cast<long>(gone.processId());
    ASSERT_TRUE(gone.waitForFinished());
    std::string host = platform::hostName();
    for (char& c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
    const std::string hex = "0123456789abcdef";
    const std::string dead = ".x.csv.part-" + host + "-" + std::to_string(deadPid) + "-" + hex;
    const std::string live =
        ".x.csv.part-" + host + "-" + std::to_string(platform::currentProcessId()) + "-" + hex;
    const std::string elsewhere = ".x.csv.part-other_host-" + std::to_string(deadPid) + "-" + hex;
    const std::string mine = ".x.csv.part-" + host + "-" + std::to_string(deadPid) + "-xyz";
    for (const auto& name : {dead, live, elsewhere, mine}) writeFile(folder / name, "part");
    exported(Format::Csv);
    EXPECT_FALSE(fs::exists(folder / dead));
    for (const auto& name : {live, elsewhere, mine}) EXPECT_TRUE(fs::exists(folder / name)) << name;
}

TEST_F(ExportTest, FixedColumnsOnlyAndEmptyTablesGiveHeadersAlone) {
    build({}, {});
    EXPECT_EQ(readFile(exported(Format::Csv)),
              "idxRec#,File Name,ID Text,Date & time,Sample Date,Counting Time,DT %\r\n");
    EXPECT_EQ(readBack("csv", exported(Format::Long)), expected("long_empty.txt"));
    EXPECT_EQ(readFile(exported(Format::Lims2d)), ",end\r\nend,\r\n");
    EXPECT_EQ(readBack("xlsx", exported(Format::Xlsx)), expected("xlsx_empty.txt"));
}

TEST_F(ExportTest, FailuresLeaveNoFileAndTheDatabaseUntouched) {
    build(kIsotopes, sampleRecords());
    const std::string before = readFile(dbPath);
    const std::string target = folder.file("out.csv");
    writeFile(target, "previous export");

    Options o;
    o.columns = {"NO-SUCH*"};
    EXPECT_EQ(exportTo(target, o).number, err::kItemNotFound);
    o.columns = {};
    o.table = "Missing";
    EXPECT_EQ(exportTo(target, o).number, err::kTableNotFound);
    o.table = kTableName;
    o.keywords = {{"No column", "X"}};
    EXPECT_EQ(exportTo(target, o).number, err::kItemNotFound);
    o.keywords = {};

    // Cancelled: the earlier file stays as it was, no part file is left.
    EXPECT_EQ(exportTo(target, o, [](std::int64_t, std::int64_t) { return false; }).number,
              kCancelled);
    EXPECT_EQ(readFile(target), "previous export");

    const Status folderTarget = exportTo(folder.path().string(), o);
    EXPECT_TRUE(isOutputFailure(folderTarget));
    EXPECT_EQ(folderTarget.description, "is a folder");
    EXPECT_TRUE(isOutputFailure(exportTo(dbPath, o)));
    EXPECT_TRUE(isOutputFailure(exportTo(folder.file("no/such/folder/x.csv"), o)));
    EXPECT_TRUE(isOutputFailure(exportTo(dbPath + "/x.csv", o)));  // under a file
    EXPECT_EQ(fileCount(), 2u);
    EXPECT_EQ(readFile(dbPath), before);

    // A file that is not a results database is not opened at all.
    const std::string other = folder.file("other.db");
    writeFile(other, "SQLite format 3" + std::string(200, '\0'));
    Status st;
    EXPECT_EQ(engine->openDatabase(other, st), nullptr);
    EXPECT_EQ(st.number, err::kNotADatabase);

    std::ostringstream out;
    Status opened;
    auto database = engine->openDatabase(dbPath, opened);
    ASSERT_TRUE(database);
    out.setstate(std::ios::badbit);  // a full or closed standard output
    EXPECT_TRUE(isOutputFailure(exportToStream(*database, {}, out)));
}

// Renaming the finished export over its target would turn a link into a plain file, and a
// device or a pipe (say /dev/null, as root) into a regular file that hides it.
TEST_F(ExportTest, LinksDevicesAndPipesKeepWhatTheyAre) {
    build(kIsotopes, sampleRecords());
    ASSERT_TRUE(exportTo("", {}).ok());

    const fs::path real = folder / "real.csv";
    const fs::path link = folder / "link.csv";
    writeFile(real, "old");
    fs::create_symlink(real, link);
    ASSERT_TRUE(exportTo(link.string(), {}).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real), streamed);

    const fs::path pipe = folder / "pipe";
    ASSERT_EQ(testing::runJobProcess("mkfifo", {QString::fromStdString(pipe.string())}).status, 0);
    QProcess reader;
    reader.start(QStringLiteral("cat"), {QString::fromStdString(pipe.string())});
    ASSERT_TRUE(reader.waitForStarted());
    ASSERT_TRUE(exportTo(pipe.string(), {}).ok());
    ASSERT_TRUE(reader.waitForFinished());
    EXPECT_EQ(reader.readAllStandardOutput().toStdString(), streamed);
    EXPECT_EQ(fs::status(pipe).type(), fs::file_type::fifo);
}

TEST_F(ExportTest, StreamOutputMatchesFileOutput) {
    auto records = sampleRecords();
    records[0][2] = db::Value("SOIL B-17");
    build(kIsotopes, records);
    for (Format f : {Format::Csv, Format::Xlsx, Format::Long, Format::Lims2d}) {
        Options o;
        o.format = f;
        const std::string file = folder.file(std::string("s") + formatSuffix(f));
        ASSERT_TRUE(exportTo(file, o).ok());
        ASSERT_TRUE(exportTo("", o).ok()) << formatName(f);
        if (f == Format::Xlsx) {
            const std::string fromFile = readBack("xlsx", file);
            writeFile(file, streamed);
            EXPECT_EQ(readBack("xlsx", file), fromFile);
        } else {
            EXPECT_EQ(streamed, readFile(file)) << formatName(f);
        }
    }
}

}  // namespace
}  // namespace krv::exports
