// Every form read back with readers the export did not write: Python's csv module and
// openpyxl, and the sqlite3 shell's .import.

#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <sstream>

#include "export/forms.h"
#include "export/results_export.h"
#include "export/values.h"
#include "platform/runs.h"
#include "tests/support/case_table.h"
#include "tests/support/process_run.h"
#include "tests/support/raw_db.h"
#include "tests/support/results_table.h"
#include "tests/support/test_folder.h"

namespace krv::exports {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

// What a reader we did not write prints for an exported file: "csv" (Python's csv module)
// and "xlsx" (openpyxl: the sheet's settings line, then typed cells) give rows on lines and
// cells between tabs; "senaite" and its options compare the file, read by SENAITE's own
// rules, with the database: "ok: ..." or one line per difference.
std::string reads(const QStringList& reader, const std::string& file, const std::string& db = {}) {
    testing::ProcessSetup utf8;
    utf8.environment = {{QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8")}};
    const QString f = QString::fromStdString(file);
    const testing::ProcessRun r = testing::runJobProcess(
        QStringLiteral("/usr/bin/python3"),
        reader[0] == "senaite"
            ? QStringList{KRV_SENAITE, f, QString::fromStdString(db)} + reader.mid(1)
            : QStringList{KRV_READ_BACK, reader[0], f},
        utf8);
    return (r.status == 0 ? "" : "exit " + std::to_string(r.status) + ": " + r.err) + r.out;
}

const std::vector<std::string> kIsotopes = {"CS-137",        "CO-60@LINE2",   "K-40@NET1",
                                            "TL-208@583:19", "PB-210@GROSS1", "U-235@BKG1"};

// The records of a set in tests/data/export_records.tsv, under kIsotopes.
std::vector<std::vector<db::Value>> recordsOf(const std::string& set) {
    std::vector<std::vector<db::Value>> records;
    for (const auto& c : testing::caseTable("export_records.tsv", 14)) {
        if (c[0] != set) continue;
        auto& record = records.emplace_back(1, db::Value(std::stod(c[1])));
        for (std::size_t i = 2; i < 14; ++i)
            record.push_back(c[i] == "NULL" ? db::Value() : db::Value(c[i]));
    }
    return records;
}

// Options written as in tests/data/export_cases.tsv, and "force" (replace a read-only file);
// cell=... settings go into `records`, a keyword map also into the file `map`.
Options optionsFrom(const std::string& text, std::vector<std::vector<db::Value>>* records = nullptr,
                    const std::string& map = {}) {
    Options o;
    std::istringstream words(text);
    for (std::string word; std::getline(words, word, ';');) {
        const std::string key = word.substr(0, word.find('='));
        const std::string value = word.substr(std::min(word.size(), key.size() + 1));
        if (key == "format") o.format = *formatFromName(value);
        if (key == "columns")
            for (const QString& p : QString::fromStdString(value).split(','))
                o.columns.push_back(p.toStdString());
        if (key == "records") {
            o.firstRecord = std::atoll(value.c_str());
            o.lastRecord = std::atoll(value.c_str() + value.find("..") + 2);
        }
        o.keepPadding = o.keepPadding || key == "keep-padding";
        o.replaceReadOnly = o.replaceReadOnly || key == "force";
        if (key == "width")
            o.widthsTwips.at(std::stoul(value)) =
                static_cast<std::int16_t>(std::stoi(value.substr(value.find(':') + 1)));
        if (key == "table") o.table = value;
        if (key == "lims") o.limsRules = *limsRulesFor(value);
        if (key == "duplicates")
            o.duplicates = value == "first" ? Duplicates::First : Duplicates::Last;
        o.sampleIdFromFileName = o.sampleIdFromFileName || key == "sample-id";
        if (key == "keywords") {
            EXPECT_TRUE(readKeywordMap(value, o.keywords).ok()) << value;
            writeFile(map, value);
        }
        if (key == "cell") {
            const std::size_t colon = value.find(':'), next = value.find(':', colon + 1);
            records->at(std::stoul(value) - 1).at(std::stoul(value.substr(colon + 1))) =
                db::Value(value.substr(next + 1));
        }
    }
    return o;
}

struct ExportTest : ::testing::Test {
    testing::TestFolder folder;
    std::string dbPath = folder.file("results.db");
    std::unique_ptr<db::Engine> engine = db::makeEngine();

    std::string notes;     // what the last export said of cells: "RECORD COLUMN: TEXT" a line
    std::string streamed;  // what the last export to a stream wrote
    // To `target`, or to a stream when it is empty.
    Status exportTo(const std::string& target, const Options& options,
                    const ProgressFn& progress = {}) {
        Status st;
        auto database = engine->openDatabase(dbPath, st);
        if (!database) return st;
        notes.clear();
        const NoteFn note = [this](const Note& n) {
            notes += std::to_string(n.record) + " " + n.column + ": " + n.text + "\n";
        };
        if (!target.empty())
            return exportToFile(*database, options, target, progress, dbPath, note);
        std::ostringstream out;
        st = exportToStream(*database, options, out, progress, note);
        streamed = out.str();
        return st;
    }
    std::size_t fileCount() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()));
    }
};

TEST(StoredValues, NumbersNamesPaddingAndSheetTexts) {
    for (const auto& c : testing::caseTable("export_values.tsv", 5)) {
        const std::string where = c.where("export_values.tsv");
        const auto bytes = [](const std::string& s) {
            return QByteArray::fromPercentEncoding(QByteArray::fromStdString(s)).toStdString();
        };
        if (c[0] == "sheet") {
            std::string out, changes;
            sheetText(bytes(c[1]), out, changes);
            EXPECT_EQ(out + "|" + changes, bytes(c[2]) + "|" + c[3]) << where;
        }
        if (c[0] == "number") {
            EXPECT_EQ(readStoredNumber(c[1]),
                      c[2] == "none" ? std::nullopt : std::optional(std::stod(c[2])))
                << where;
        }
        if (c[0] != "column") continue;
        const IsotopeColumn column = parseIsotopeColumn(c[1]);
        EXPECT_EQ(column.nuclide + "|" + column.line + "|" + column.quantity,
                  c[2] + "|" + c[3] + "|" + c[4])
            << where;
    }
    EXPECT_EQ(trimPadding(std::string("ab  \0\0 ", 7)), "ab");
    // A text longer than a sheet's cell, with more to leave out and to change (a long text
    // alone is cut in the export's own test).
    const std::string longText(40001, 'x');
    std::string out, changes;
    sheetText("\x02" + longText + "\r\n", out, changes);
    EXPECT_EQ(out, longText.substr(0, 32767));
    EXPECT_EQ(changes,
              "cut to 32767 of 40002 characters, a cell's limit; control character U+0002 left "
              "out, a sheet cannot hold it; line break CR LF written as LF");
}

TEST_F(ExportTest, XlsxSaysWhichCellsItCouldNotCarryAsStored) {
    // A store edited by hand: control characters, a broken byte, a NUL inside a text, a
    // text longer than a cell, a line break of two characters.
    const std::string longText = QString(40001, QChar(0xE9)).toStdString();  // é
    ASSERT_TRUE(
        testing::buildResultsDb(*engine, dbPath, {},
                                {{db::Value(1.0), db::Value(std::string("a\001b\377c\0d   ", 9)),
                                  db::Value(longText), db::Value("x\r\ny"), db::Value("fine")}})
            .ok());
    ASSERT_TRUE(exportTo(folder.file("out.xlsx"), optionsFrom("format=xlsx")).ok());
    const std::string sheet = reads({"xlsx"}, folder.file("out.xlsx"));
    EXPECT_EQ(sheet.substr(sheet.find("\nn:")),
              "\nn:1\ts:ab\xEF\xBF\xBD"
              "cd\ts:" +
                  longText.substr(0, 2 * 32767) + "\ts:x\\ny\ts:fine\t-\t-\n");
    EXPECT_EQ(notes,
              "1 File Name: control character U+0001 left out, a sheet cannot hold it; bytes "
              "that are no UTF-8 written as U+FFFD\n"
              "1 ID Text: cut to 32767 of 40001 characters, a cell's limit\n"
              "1 Date & time: line break CR LF written as LF\n");
    // csv carries every one of them exactly.
    ASSERT_TRUE(exportTo(folder.file("out.csv"), {}).ok());
    EXPECT_EQ(notes, "");
}

// Each form of each table as a reader we did not write reads it, and the same on a stream;
// a refusal leaves an earlier file as it was and writes nothing to a stream.
TEST_F(ExportTest, EachCaseReadsBackAsItsRowSays) {
    testing::TestFolder maps;
    const std::string map = maps.file("map.csv");
    for (const auto& c : testing::caseTable("export_cases.tsv", 5)) {
        const std::string where = c.where("export_cases.tsv");
        for (const auto& entry : fs::directory_iterator(folder.path())) fs::remove_all(entry);
        auto records = recordsOf(c[0]);
        const Options o = optionsFrom(c[1], &records, map);
        ASSERT_TRUE(
            testing::buildResultsDb(
                *engine, dbPath, records.empty() ? std::vector<std::string>{} : kIsotopes, records)
                .ok());
        const std::string target = folder.file(std::string("out") + formatSuffix(o.format));
        if (c[2].rfind("fails ", 0) == 0) {
            writeFile(target, "previous export");
            const Status st = exportTo(target, o);
            EXPECT_EQ(st.number, std::stoi(c[2].substr(6))) << where;
            EXPECT_NE(st.description.find(c[3]), std::string::npos) << where << st.description;
            EXPECT_EQ(readFile(target), "previous export") << where;
            EXPECT_EQ(fileCount(), 2u) << where;
            EXPECT_EQ(exportTo("", o).number, st.number) << where;
            EXPECT_EQ(streamed, "") << where;
            continue;
        }
        const Status st = exportTo(target, o);
        ASSERT_TRUE(st.ok()) << where << ": " << st.description;
        EXPECT_EQ(notes, c[4]) << where;
        const std::string want =
            c[3].rfind('@', 0) ? c[3]
                               : readFile(KRV_TEST_DATA "/export_read_back/" + c[3].substr(1));
        const QStringList args =
            QString::fromStdString(c[2]).replace("$MAP", QString::fromStdString(map)).split(' ');
        EXPECT_EQ(c[2] == "file" ? readFile(target) : reads(args, target, dbPath), want) << where;
        ASSERT_TRUE(exportTo("", o).ok()) << where;
        const std::string fromFile = readFile(target);
        writeFile(target, streamed);
        EXPECT_EQ(o.format == Format::Xlsx ? reads({"xlsx"}, target) : streamed,
                  o.format == Format::Xlsx ? want : fromFile)
            << where;
    }
}

// A table of several chunks, the first alone more than the writer buffers, whose last
// record cannot go to the LIMS: not one byte reaches the stream (the LIMS itself would
// accept a file that stops early).
TEST_F(ExportTest, LimsStreamGetsNothingWhenTheLastRecordFails) {
    std::vector<std::string> isotopes;
    for (int i = 1; i <= 30; ++i) isotopes.push_back("N-" + std::to_string(i));
    std::vector<db::Value> record = {1.0, "F.CNF", "SAMPLE-1", "", "", "3600", "1"};
    record.resize(7 + isotopes.size(), db::Value("12,5"));
    ASSERT_TRUE(testing::buildResultsDb(*engine, dbPath, isotopes, {record}).ok());
    testing::repeatFirstRecord(dbPath, 4500, "SAMPLE-");
    testing::RawDb raw(dbPath);
    raw.query("UPDATE SamData SET \"N-30\" = 'n/a' WHERE \"idxRec#\" = 4500");
    const Options o = optionsFrom("format=lims2d");
    const Status st = exportTo("", o);
    EXPECT_EQ(st.number, kNotRepresentable);
    EXPECT_NE(st.description.find("record 4500"), std::string::npos) << st.description;
    EXPECT_EQ(streamed.size(), 0u);
    raw.query("UPDATE SamData SET \"N-30\" = '1' WHERE \"idxRec#\" = 4500");
    EXPECT_TRUE(exportTo("", o).ok());
    EXPECT_GT(streamed.size(), 4500u * 150);
}

// Files on disk: an earlier file, a folder, the database, links, pipes, leftovers, and a
// reader of the file.
TEST_F(ExportTest, FilesOnDisk) {
    ASSERT_TRUE(testing::buildResultsDb(*engine, dbPath, kIsotopes, recordsOf("sample")).ok());
    const std::string before = readFile(dbPath);
    // Replacing a file by renaming needs only the folder's permission, so a read-only file
    // would go unnoticed; and the replacement must not reset who may read the file.
    const std::string target = folder.file("out.csv");
    using P = fs::perms;
    for (const auto& [mode, force, replaced] :
         {std::tuple{P::owner_read | P::group_read | P::others_read, false, false},
          std::tuple{P::owner_read | P::group_read | P::others_read, true, true},
          std::tuple{P::owner_read | P::owner_write | P::group_read, false, true}}) {
        fs::remove(target);
        writeFile(target, "previous export");
        fs::permissions(target, mode);
        const Status st = exportTo(target, optionsFrom(force ? "force" : ""));
        EXPECT_EQ(st.ok(), replaced) << st.description;
        if (!replaced) {
            EXPECT_EQ(st.number, err::kPermissionDenied);
            EXPECT_EQ(st.description, "is read-only");
        }
        EXPECT_EQ(readFile(target) == "previous export", !replaced);
        EXPECT_EQ(fs::status(target).permissions(), mode);
        EXPECT_EQ(fileCount(), 2u);
    }

    // Cancelled: the earlier file stays as it was, no part file is left.
    writeFile(target, "previous export");
    const Options o;
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

    // Renaming the finished export over its target would turn a link into a plain file, and a
    // device or a pipe (say /dev/null, as root) into a regular file that hides it.
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

    // Private files of killed exports on this machine go; a live run's and another machine's
    // stay.
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    ASSERT_TRUE(gone.waitForStarted());
    const long deadPid = static_cast<long>(gone.processId());
    ASSERT_TRUE(gone.waitForFinished());
    std::string host = platform::hostName();
    for (char& c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
    const auto part = [](const std::string& on, long pid, const std::string& tail) {
        return ".x.csv.part-" + on + "-" + std::to_string(pid) + "-" + tail;
    };
    const std::string hex = "0123456789abcdef", dead = part(host, deadPid, hex),
                      live = part(host, platform::currentProcessId(), hex),
                      elsewhere = part("other_host", deadPid, hex),
                      mine = part(host, deadPid, "xyz");
    for (const auto& name : {dead, live, elsewhere, mine}) writeFile(folder / name, "part");
    ASSERT_TRUE(exportTo(target, {}).ok());
    EXPECT_FALSE(fs::exists(folder / dead));
    for (const auto& name : {live, elsewhere, mine}) EXPECT_TRUE(fs::exists(folder / name)) << name;

    // sqlite3's own CSV import, into a table it makes from the header, gives the same values.
    ASSERT_TRUE(exportTo(target, optionsFrom("keep-padding")).ok());
    std::string cols;
    for (const std::string& c : testing::RawDb(dbPath).columns())
        cols += (cols.empty() ? "coalesce(\"" : ", coalesce(\"") + c.substr(0, c.rfind(' ')) +
                "\", '')";
    const testing::ProcessRun load = testing::runJobProcess(
        QStringLiteral("sqlite3"), {QString::fromStdString(folder.file("back.db")),
                                    QString::fromStdString(".import --csv '" + target + "' t")});
    ASSERT_EQ(load.status, 0) << load.err;
    testing::RawDb original(dbPath), back(folder.file("back.db"));
    EXPECT_EQ(back.query("SELECT " + cols + " FROM t ORDER BY rowid"),
              original.query("SELECT " + cols + " FROM SamData ORDER BY rowid"));
}

}  // namespace
}  // namespace krv::exports
