#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <sstream>

#include "qc/half_life.h"
#include "qc/reading.h"
#include "qc/tests/check_source_db.h"
#include "qc/trend.h"
#include "qc/westgard.h"
#include "tests/support/case_table.h"
#include "tests/support/test_folder.h"

namespace krv::qc {
namespace {

TEST(QcReading, ValuesDatesAndFiltersAsTheCaseTableSays) {
    DateSettings monthFirst, dayFirst, pivot50;
    dayFirst.dayFirst = true;
    pivot50.twoDigitYearPivot = 50;
    const std::map<std::string, const DateSettings*> settings = {
        {"monthFirst", &monthFirst}, {"dayFirst", &dayFirst}, {"pivot50", &pivot50}};
    for (const auto& c : testing::caseTable("qc_reading.tsv", 4)) {
        const std::string& check = c[0];
        if (check == "value") {
            const auto v = readValue(c[1]);
            EXPECT_EQ(v ? std::optional(*v) : std::nullopt,
                      c[3] == "none" ? std::nullopt : std::optional(std::stod(c[3])))
                << c.where("qc_reading.tsv");
        } else if (check == "date") {
            ASSERT_TRUE(settings.count(c[2])) << c.where("qc_reading.tsv");
            const auto t = readDateTime(c[1], *settings.at(c[2]));
            EXPECT_EQ(t ? formatDateTime(*t) : "unreadable", c[3]) << c.where("qc_reading.tsv");
        } else {
            ASSERT_EQ(check, "wildcard") << c.where("qc_reading.tsv");
            EXPECT_EQ(matchesWildcard(c[1], c[2]), c[3] == "yes") << c.where("qc_reading.tsv");
        }
    }
    EXPECT_EQ(readDateTime("1/1/70 00:00:00", monthFirst), 0);
}

TEST(QcHalfLives, TableSourcesColumnsAndUserFile) {
    HalfLifeTable t = HalfLifeTable::recommended();
    for (const char* n :
         {"K-40", "Be-7", "Na-22", "Mn-54", "Co-57", "Co-60", "Zn-65", "Ba-133", "Cs-134", "Cs-137",
          "Eu-152", "Eu-154", "Am-241", "Pb-210", "Ra-226", "I-131", "Th-228"}) {
        const HalfLife* h = t.find(n);
        ASSERT_NE(h, nullptr) << n;
        EXPECT_FALSE(h->source.empty()) << n;
        EXPECT_GT(h->seconds, 0) << n;
    }
    EXPECT_DOUBLE_EQ(t.find("CO-60")->seconds, 5.2711 * 365.24219 * 86400);
    EXPECT_EQ(t.find("co60"), t.find("Co-60"));
    EXPECT_EQ(t.find("XX-99"), nullptr);
    EXPECT_EQ(HalfLifeTable::nuclideOfColumn("CO-60@NET1"), "CO-60");
    EXPECT_EQ(HalfLifeTable::nuclideOfColumn("CO-60@1332:5"), "CO-60");
    EXPECT_EQ(HalfLifeTable::nuclideOfColumn("CS-137"), "CS-137");

    const Status bad = t.addFromText("XE-133 5.2475 d\nFOO-1 abc d\n", "lab.txt");
    EXPECT_FALSE(bad.ok());
    EXPECT_NE(bad.description.find("lab.txt:2"), std::string::npos) << bad.description;
    for (const char* line : {"-- 5 d", "CO-60 5 weeks", "CO-60 -5 d", "CO-60 5"})
        EXPECT_FALSE(t.addFromText(line, "lab.txt").ok()) << line;
    EXPECT_EQ(t.find("XE-133"), nullptr);  // nothing of a bad file is taken

    ASSERT_TRUE(t.addFromText("# our own values\nCO-60 1925,3 d  lab certificate\n"
                              "XE-133 5.2475 d\n",
                              "lab.txt")
                    .ok());
    EXPECT_DOUBLE_EQ(t.find("Co-60")->seconds, 1925.3 * 86400);
    EXPECT_EQ(t.find("Co-60")->source, "lab certificate (lab.txt:2)");
    EXPECT_DOUBLE_EQ(t.find("xe-133")->seconds, 5.2475 * 86400);
}

TEST(QcWestgard, TextbookSequencesFireEachRuleOnce) {
    for (const auto& c : testing::caseTable("westgard.tsv", 3)) {
        std::vector<double> z;
        std::istringstream points(c[0]);
        for (std::string p; std::getline(points, p, ',');) z.push_back(std::stod(p));
        RuleSettings s;
        s.range4sAcrossPoints = c[1] == "yes";
        std::map<std::string, int> n;
        for (const auto& rules : applyRules(z, std::vector<bool>(z.size(), true), s))
            for (Rule r : rules) ++n[ruleName(r)];
        std::string got;
        for (const auto& [name, count] : n)
            got += (got.empty() ? "" : " ") + name + ":" + std::to_string(count);
        EXPECT_EQ(got.empty() ? "none" : got, c[2]) << c.where("westgard.tsv");
    }

    // Patterns reach back into the baseline, flags land only on judged points.
    const auto r = applyRules({0.2, 2.5, 2.4, 0.1}, {false, false, true, true}, {});
    EXPECT_TRUE(r[1].empty());
    ASSERT_EQ(r[2].size(), 1u);
    EXPECT_EQ(r[2][0], Rule::R22s);
}

TEST(QcWestgard, BaselineMeanAndSampleDeviation) {
    const Baseline b = baselineOf({2, 4, 4, 4, 5, 5, 7, 9});
    EXPECT_DOUBLE_EQ(b.mean, 5);
    EXPECT_DOUBLE_EQ(b.sd, std::sqrt(32.0 / 7));
    EXPECT_EQ(baselineOf({3}).sd, 0);
}

// Numbers separated by commas.
std::vector<double> numbers(const std::string& list) {
    std::vector<double> out;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) out.push_back(std::stod(item));
    return out;
}

// A trend of points given as "day:value,day:value...".
Trend pointsAt(const std::string& daysAndValues) {
    Trend t;
    std::istringstream in(daysAndValues);
    for (std::string item; std::getline(in, item, ',');) {
        TrendPoint p;
        p.recordId = static_cast<std::int64_t>(t.points.size()) + 1;
        p.time = static_cast<std::int64_t>(std::stod(item) * 86400);
        p.stored = p.value = std::stod(item.substr(item.find(':') + 1));
        t.points.push_back(p);
    }
    return t;
}

TEST(QcDecay, CorrectionToTheReferenceDateMatchesHandValues) {
    const HalfLifeTable table = HalfLifeTable::recommended();
    for (const auto& c : testing::caseTable("qc_decay.tsv", 7)) {
        TrendQuery q;
        q.column = c[0];
        q.correction = c[1] == "on" ? Correction::On : Correction::Auto;
        q.baselineCount = 2;
        if (c[2] != "-") q.referenceTime = std::stoll(c[2]) * 86400;
        Trend t = pointsAt(c[3]);
        ASSERT_TRUE(computeTrend(q, table, t).ok()) << c.where("qc_decay.tsv");
        EXPECT_EQ(t.corrected, c[4] == "yes") << c.where("qc_decay.tsv");
        EXPECT_EQ(t.referenceTime, c[2] == "-" ? t.points[0].time : *q.referenceTime);
        const std::vector<double> want = numbers(c[5]);
        ASSERT_EQ(t.points.size(), want.size()) << c.where("qc_decay.tsv");
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_NEAR(t.points[i].value, want[i], 1e-6) << c.where("qc_decay.tsv") << " " << i;
        if (!c[6].empty()) {
            EXPECT_EQ(t.notes, std::vector<std::string>{c[6]});
        }
    }
}

TEST(QcDecay, BaselineTooSmallOrFlatIsSaidNotCharted) {
    const HalfLifeTable table = HalfLifeTable::recommended();
    TrendQuery q;
    q.column = "CO-60@NET1";
    Trend none;
    EXPECT_FALSE(computeTrend(q, table, none).ok());
    Trend one = pointsAt("0:100");
    const Status st = computeTrend(q, table, one);
    EXPECT_NE(st.description.find("at least 2"), std::string::npos) << st.description;
    Trend flat = pointsAt("0:100,1:100,2:100,3:150");
    q.baselineCount = 3;
    EXPECT_NE(computeTrend(q, table, flat).description.find("no spread"), std::string::npos);
    EXPECT_FALSE(flat.limitsSet());
    EXPECT_TRUE(flat.points[3].rules.empty());

    // I-131 counted in 2002 and corrected to year 1 or 9999: said, not charted.
    q.column = "I-131";
    q.baselineCount = 2;
    for (const char* reference : {"1/1/0001", "1/1/9999"}) {
        q.referenceTime = *readDateTime(reference, {});
        Trend far = pointsAt("11800:100,11801:101,11802:99");
        const Status st = computeTrend(q, table, far);
        EXPECT_NE(st.description.find("leaves no usable value; check the count dates"),
                  std::string::npos)
            << reference << ": " << st.description;
    }
}

// The daily check-source counts among blanks, one unreadable date and one text value.
class QcTrendOnDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<testing::CheckCount> counts = testing::dailyCounts(20, 5);
        counts.push_back({"CHECK CO-60", "Measurement Date", 1000, 50});
        testing::appendCounts(*engine, path, counts);
        Status st;
        db = engine->openDatabase(path, st);
        ASSERT_TRUE(st.ok()) << st.description;
        std::vector<db::FieldInfo> fields;
        ASSERT_TRUE(db->fields(kTableName, fields).ok());
        const auto col = std::find_if(fields.begin(), fields.end(),
                                      [](const auto& f) { return f.name == "CO-60@LINE1"; });
        ASSERT_NE(col, fields.end());
        ASSERT_TRUE(db->updateValue(kTableName, 2, *col, std::string("n/a")).ok());
        query.column = "CO-60@LINE1";
        query.pattern = "check*";
    }

    testing::TestFolder folder;
    std::string path = folder.file("results.db");
    std::unique_ptr<db::Engine> engine = db::makeEngine();
    std::unique_ptr<db::Database> db;
    TrendQuery query;
};

TEST_F(QcTrendOnDatabase, DecayAloneFires10xUntilCorrected) {
    Trend t;
    query.correction = Correction::Off;
    ASSERT_TRUE(buildTrend(*db, query, HalfLifeTable::recommended(), t).ok());
    EXPECT_EQ(t.matched, 61u);
    ASSERT_EQ(t.notNumbers.size(), 1u);
    EXPECT_EQ(t.notNumbers[0].recordId, 2);
    EXPECT_EQ(t.notNumbers[0].text, "n/a");
    ASSERT_EQ(t.unreadableDates.size(), 1u);
    EXPECT_EQ(t.unreadableDates[0].text, "Measurement Date");
    ASSERT_EQ(t.points.size(), 59u);
    EXPECT_EQ(t.points.front().dateText, "5/1/02  09:00:05");
    EXPECT_EQ(t.points.back().idText, "CHECK CO-60");
    EXPECT_EQ(t.judgedCount(), 39u);
    EXPECT_FALSE(t.points.back().rules.empty());
    bool tenX = false;
    for (const auto& p : t.points) {
        for (Rule r : p.rules) tenX |= r == Rule::R10x;
    }
    EXPECT_TRUE(tenX);

    query.correction = Correction::Auto;
    ASSERT_TRUE(buildTrend(*db, query, HalfLifeTable::recommended(), t).ok());
    EXPECT_TRUE(t.corrected);
    EXPECT_EQ(t.halfLife->nuclide, "Co-60");
    for (const auto& p : t.points) EXPECT_TRUE(p.rules.empty()) << p.dateText << " z " << p.z;
    EXPECT_NEAR(t.baseline.mean, 1000, 3);

    const std::string csv = pointsCsv(t);
    EXPECT_EQ(csv.substr(0, csv.find('\r')),
              "Record,Date & time,Count time,ID Text,File Name,Stored value,Value,z,Baseline,"
              "Rules");
    EXPECT_NE(csv.find(",5/1/02  09:00:05,2002-05-01 09:00:05,CHECK CO-60,CHK0001.CNF,"),
              std::string::npos);
}

TEST_F(QcTrendOnDatabase, BaselineByDateRangeAndMissingColumn) {
    Trend t;
    query.baselineFrom = readDateTime("6/1/02", {});
    query.baselineTo = readDateTime("6/10/02 23:59:59", {});
    ASSERT_TRUE(buildTrend(*db, query, HalfLifeTable::recommended(), t).ok());
    EXPECT_EQ(t.baseline.count, 10u);
    EXPECT_EQ(t.referenceTime, *readDateTime("6/1/02 09:31:05", {}));
    EXPECT_EQ(t.judgedCount(), 49u);

    query.column = "CO-60@LINE9";
    const Status st = buildTrend(*db, query, HalfLifeTable::recommended(), t);
    EXPECT_EQ(st.description, "the table has no column \"CO-60@LINE9\"");
    query.column = "CO-60@LINE1";
    query.pattern = "NOTHING*";
    EXPECT_NE(buildTrend(*db, query, HalfLifeTable::recommended(), t)
                  .description.find("no record with a readable value"),
              std::string::npos);
}

}  // namespace
}  // namespace krv::qc
