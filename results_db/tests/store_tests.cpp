#include <cmath>
#include <filesystem>
#include <string>

#include "db_test_support.h"
#include "results_db/archive.h"
#include "results_db/store.h"

namespace krv {
namespace {

using db::FieldInfo;
using db::FieldType;
using db::Value;
using testing::RawDb;
using testing::TempFolder;

// A results database with the fixed table and one record, made through the store.
std::string makeResultsDb(const TempFolder& tmp, const std::string& name) {
    auto engine = db::makeSqliteEngine();
    const std::string path = tmp.file(name);
    EXPECT_TRUE(engine->createDatabase(path).ok());
    Status st;
    auto database = engine->openDatabase(path, st);
    EXPECT_TRUE(st.ok()) << st.description;
    EXPECT_TRUE(
        database->createTable(kTableName, fixedFields(), kIndexName, kRecordNumberField).ok());
    EXPECT_TRUE(database->insertRecord(kTableName, {{"ID Text", std::string("x")}}).ok());
    database->close();
    return path;
}

TEST(OpenDatabase, RefusesWhatIsNotAResultsDatabaseWithoutTouchingIt) {
    TempFolder tmp;
    const std::string good = makeResultsDb(tmp, "good.db");

    std::string damaged = testing::readBytes(good);
    std::fill(damaged.begin() + 100, damaged.begin() + 200, '\xFF');  // page 1 b-tree header
    testing::writeBytes(tmp.file("damaged.db"), damaged);
    testing::writeBytes(tmp.file("text.txt"), "ID: not a database\r\n");
    testing::writeBytes(tmp.file("empty.db"), "");
    {
        sqlite3* other = nullptr;
        sqlite3_open(tmp.file("other.db").c_str(), &other);
        sqlite3_exec(other, "CREATE TABLE SamData(x); INSERT INTO SamData VALUES (1);", nullptr,
                     nullptr, nullptr);
        sqlite3_close(other);
    }
    std::filesystem::create_directory(tmp.file("folder.db"));

    auto engine = db::makeSqliteEngine();
    for (const char* name : {"damaged.db", "text.txt", "empty.db", "other.db", "folder.db"}) {
        SCOPED_TRACE(name);
        const std::string path = tmp.file(name);
        const std::string before = testing::readBytes(path);
        Status st;
        EXPECT_EQ(engine->openDatabase(path, st), nullptr);
        EXPECT_FALSE(st.ok());
        EXPECT_NE(st.description.find(path), std::string::npos) << st.description;
        EXPECT_EQ(testing::readBytes(path), before);
        EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    }

    Status st;
    EXPECT_EQ(engine->openDatabase(tmp.file("missing.db"), st), nullptr);
    EXPECT_FALSE(st.ok());
    EXPECT_FALSE(std::filesystem::exists(tmp.file("missing.db")));
    EXPECT_FALSE(engine->createDatabase(tmp.file("text.txt")).ok());
    EXPECT_EQ(testing::readBytes(tmp.file("text.txt")), "ID: not a database\r\n");
    EXPECT_NE(engine->openDatabase(good, st), nullptr) << st.description;
}

TEST(ConvertForField, NumbersRoundHalfToEvenIntoSixteenBits) {
    const FieldInfo seq{"idxRec#", FieldType::Int16, 0};
    const std::pair<Value, double> accepted[] = {{2.5, 2},
                                                 {3.5, 4},
                                                 {-2.5, -2},
                                                 {32767.4, 32767},
                                                 {-32768.5, -32768},
                                                 {std::string(" 12 "), 12},
                                                 {std::string("1e3"), 1000}};
    for (const auto& [in, want] : accepted) {
        Value out;
        ASSERT_TRUE(db::convertForField(seq, in, out).ok());
        EXPECT_EQ(std::get<double>(out), want);
    }
    Value out;
    EXPECT_EQ(db::convertForField(seq, 32767.5, out).number, err::kOverflow);
    EXPECT_EQ(db::convertForField(seq, -32769.0, out).number, err::kOverflow);
    EXPECT_EQ(db::convertForField(seq, std::nan(""), out).number, err::kOverflow);
    EXPECT_EQ(db::convertForField(seq, std::string("12a"), out).number, err::kTypeMismatch);
    EXPECT_TRUE(db::convertForField(seq, std::string(""), out).ok());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(out));
}

TEST(ConvertForField, TextSizeCountsCharactersNotBytes) {
    const FieldInfo ten{"DT %", FieldType::Text, 10};
    Value out;
    EXPECT_TRUE(db::convertForField(ten, std::string("µµµµµµµµµµ"), out).ok());
    EXPECT_EQ(db::convertForField(ten, std::string("12345678901"), out).number,
              err::kFieldTooSmall);
    EXPECT_TRUE(db::convertForField(ten, std::string(), out).ok());
    EXPECT_EQ(std::get<std::string>(out), "");
    EXPECT_TRUE(db::convertForField(ten, 0.000012345, out).ok());
    EXPECT_EQ(std::get<std::string>(out), "1.2345E-05");
    EXPECT_FALSE(db::convertForField(ten, -12345678.0, out).ok());  // -1.234568E+07
}

TEST(CheckNewFieldName, KeepsPunctuationButRefusesWhatTheFileCannotName) {
    const std::vector<FieldInfo> existing = fixedFields();
    for (const char* ok : {"CO-60@1332:5", "Date & time 2", "a#b%c", "x y", "Ω-137",
                           "1234567890123456789012345678901234567890123456789012345678901234"}) {
        EXPECT_TRUE(db::checkNewFieldName(ok, existing).ok()) << ok;
    }
    for (const char* bad : {"", " lead", "a.b", "a!b", "a`b", "a[b", "a]b", "tab\there", "ROWID",
                            "12345678901234567890123456789012345678901234567890123456789012345"}) {
        EXPECT_EQ(db::checkNewFieldName(bad, existing).number, err::kInvalidName) << bad;
    }
    EXPECT_EQ(db::checkNewFieldName("DATE & TIME", existing).number, err::kDuplicateName);
}

TEST(ViewerOperations, EditAndDeleteTouchExactlyOneRecord) {
    TempFolder tmp;
    const std::string path = makeResultsDb(tmp, "r.db");
    auto engine = db::makeSqliteEngine();
    Status st;
    auto database = engine->openDatabase(path, st);
    ASSERT_TRUE(database);
    // Two identical records: only the identity tells them apart.
    ASSERT_TRUE(database->insertRecord(kTableName, {{"ID Text", std::string("x")}}).ok());
    std::vector<std::int64_t> ids;
    ASSERT_TRUE(database->recordIds(kTableName, ids).ok());
    ASSERT_EQ(ids.size(), 2u);

    const FieldInfo dt{"DT %", FieldType::Text, 10};
    EXPECT_TRUE(database->updateValue(kTableName, ids[1], dt, std::string("4.5")).ok());
    EXPECT_EQ(database->updateValue(kTableName, ids[0], dt, std::string("too long text")).number,
              err::kFieldTooSmall);
    // The stored column decides: a caller's wrong idea of the type does not get past it.
    const FieldInfo wrong{"idxRec#", FieldType::Text, 255};
    EXPECT_EQ(database->updateValue(kTableName, ids[0], wrong, std::string("40000")).number,
              err::kOverflow);

    std::vector<std::vector<Value>> rows;
    ASSERT_TRUE(database->readRecords(kTableName, {"DT %", "ID Text"}, ids[0], ids[1], rows).ok());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(rows[0][1]));
    EXPECT_EQ(std::get<std::string>(rows[1][1]), "4.5");

    EXPECT_TRUE(database->deleteRecord(kTableName, ids[1]).ok());
    EXPECT_EQ(database->deleteRecord(kTableName, ids[1]).number, err::kNoCurrentRecord);
    database->close();

    RawDb raw(path);
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "1");
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData WHERE \"DT %\" IS NULL"), "1");
}

}  // namespace
}  // namespace krv
