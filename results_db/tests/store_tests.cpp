#include <cmath>
#include <filesystem>
#include <string>

#include "db_test_support.h"
#include "results_db/archive.h"

namespace krv {
namespace {

using db::FieldInfo;
using db::FieldType;
using db::Value;
using testing::RawDb;
using testing::TempFolder;

// The fixed table with one record, made through the store.
std::string makeResultsDb(const TempFolder& tmp, const std::string& name) {
    auto engine = db::makeSqliteEngine();
    const std::string path = tmp.file(name);
    EXPECT_TRUE(engine->createDatabase(path).ok());
    Status st;
    auto database = engine->openDatabase(path, st);
    EXPECT_TRUE(
        database->createTable(kTableName, fixedFields(), kIndexName, kRecordNumberField).ok());
    EXPECT_TRUE(database->insertRecord(kTableName, {{"ID Text", std::string("x")}}).ok());
    return path;
}

TEST(OpenDatabase, RefusesWhatIsNotAResultsDatabaseWithoutTouchingIt) {
    TempFolder tmp;
    const std::string good = makeResultsDb(tmp, "good.db");
    std::string damaged = testing::readBytes(good);
    std::fill(damaged.begin() + 100, damaged.begin() + 200, '\xFF');  // first page's b-tree
    testing::writeBytes(tmp.file("damaged.db"), damaged);
    testing::writeBytes(tmp.file("text.txt"), "ID: not a database\r\n");
    testing::writeBytes(tmp.file("empty.db"), "");
    RawDb(tmp.file("other.db")).query("CREATE TABLE SamData(x)");
    std::filesystem::create_directory(tmp.file("folder.db"));

    auto engine = db::makeSqliteEngine();
    for (const char* name : {"damaged.db", "text.txt", "empty.db", "other.db", "folder.db"}) {
        SCOPED_TRACE(name);
        const std::string path = tmp.file(name);
        const std::string before = testing::readBytes(path);
        Status st;
        EXPECT_EQ(engine->openDatabase(path, st), nullptr);
        EXPECT_NE(st.description.find("Unrecognized database format '" + path), std::string::npos);
        EXPECT_FALSE(engine->createDatabase(path).ok());
        EXPECT_EQ(testing::readBytes(path), before);
        EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    }
    Status st;
    EXPECT_EQ(engine->openDatabase(tmp.file("missing.db"), st), nullptr);
    EXPECT_FALSE(std::filesystem::exists(tmp.file("missing.db")));
    EXPECT_NE(engine->openDatabase(good, st), nullptr) << st.description;
}

TEST(ConvertForField, IntegersRoundHalfToEvenAndTextsCountCharacters) {
    const FieldInfo seq{"idxRec#", FieldType::Int16, 0};
    const std::pair<Value, double> accepted[] = {
        {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-32768.5, -32768}, {std::string(" 12 "), 12}};
    for (const auto& [in, want] : accepted) {
        Value out;
        ASSERT_TRUE(db::convertForField(seq, in, out).ok());
        EXPECT_EQ(std::get<double>(out), want);
    }
    Value out;
    for (double v : {32767.5, -32769.0, std::nan("")})
        EXPECT_EQ(db::convertForField(seq, v, out).number, err::kOverflow) << v;

    const FieldInfo ten{"DT %", FieldType::Text, 10};
    EXPECT_TRUE(db::convertForField(ten, std::string("µµµµµµµµµµ"), out).ok());
    EXPECT_EQ(db::convertForField(ten, std::string("12345678901"), out).number,
              err::kFieldTooSmall);
    EXPECT_EQ(db::convertForField(ten, -12345678.0, out).number, err::kFieldTooSmall);
}

TEST(ViewerOperations, EditAndDeleteTouchExactlyOneRecord) {
    TempFolder tmp;
    const std::string path = makeResultsDb(tmp, "r.db");
    Status st;
    auto database = db::makeSqliteEngine()->openDatabase(path, st);
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
    // The stored column decides what fits, not the caller's idea of it.
    const FieldInfo wrong{"idxRec#", FieldType::Text, 255};
    EXPECT_EQ(database->updateValue(kTableName, ids[0], wrong, std::string("40000")).number,
              err::kOverflow);
    std::vector<std::vector<Value>> rows;
    ASSERT_TRUE(database->readRecords(kTableName, {"DT %"}, ids[0], ids[1], rows).ok());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(rows[0][1]));
    EXPECT_EQ(std::get<std::string>(rows[1][1]), "4.5");

    EXPECT_TRUE(database->deleteRecord(kTableName, ids[1]).ok());
    EXPECT_EQ(database->deleteRecord(kTableName, ids[1]).number, err::kNoCurrentRecord);
    EXPECT_EQ(RawDb(path).query("SELECT \"idxRec#\", \"DT %\" FROM SamData"),
              (testing::Rows{{{}, {}}}));
}

}  // namespace
}  // namespace krv
