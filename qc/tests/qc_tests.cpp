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
#include "tests/support/raw_db.h"
#include "tests/support/test_folder.h"

namespace krv::qc {
namespace {

TEST(QcReading, ValuesDatesAndFiltersAsTheCaseTableSays) {
    for (const auto& c : testing::caseTable("qc_reading.tsv", 4)) {
        const std::string& check = c[0];
        if (check == "value") {
            const auto v = readValue(c[1]);
            EXPECT_EQ(v ? std::optional(*v) : std::nullopt,
                      c[3] == "none" ? std::nullopt : std::optional(std::stod(c[3])))
                << c.where("qc_reading.tsv");
        } else if (check == "date") {
            DateSettings settings;  // month first unless the case names another
            settings.dayFirst = c[2] == "dayFirst";
            if (c[2] == "pivot50") settings.twoDigitYearPivot = 50;
            const auto t = readDateTime(c[1], settings);
            EXPECT_EQ(t ? formatDateTime(*t) : "unreadable", c[3]) << c.where("qc_reading.tsv");
        } else {
            ASSERT_EQ(check, "wildcard") << c.where("qc_reading.tsv");
            EXPECT_EQ(matchesWildcard(c[1], c[2]), c[3] == "yes") << c.where("qc_reading.tsv");
        }
    }
    EXPECT_EQ(readDateTime("1/1/70 00:00:00", {}), 0);
}

// The whole table, one nuclide a line, for comparing with the kept copy.
std::string listed(const HalfLifeTable& t) {
    std::string out;
    char seconds[32];
    for (const HalfLife& h : t.entries()) {
        std::snprintf(seconds, sizeof seconds, "%.17g", h.seconds);
        out += h.nuclide + "\t" + seconds + "\t" + h.written + "\t" + h.source + "\n";
    }
    return out;
}

// What a case printed, compared whole with the copy kept under tests/data/.
void expectAsKept(const std::string& name, const std::string& printed) {
    EXPECT_EQ(printed, testing::readFile(std::string(KRV_TEST_DATA) + "/" + name)) << name;
}

TEST(QcHalfLives, TableSourcesColumnsAndUserFile) {
    HalfLifeTable t = HalfLifeTable::recommended();
    const std::string recommended = listed(t);
    EXPECT_EQ(t.find("co60"), t.find("Co-60"));
    EXPECT_EQ(t.find("XX-99"), nullptr);
    EXPECT_EQ(HalfLifeTable::nuclideOfColumn("CO-60@NET1"), "CO-60");
    EXPECT_EQ(HalfLifeTable::nuclideOfColumn("CO-60@1332:5"), "CO-60");
    EXPECT_EQ(HalfLifeTable::nuclideOfColumn("CS-137"), "CS-137");

    const Status bad = t.addFromText("XE-133 5.2475 d\nFOO-1 abc d\n", "lab.txt");
    EXPECT_NE(bad.description.find("lab.txt:2"), std::string::npos) << bad.description;
    for (const char* line : {"-- 5 d", "CO-60 5 weeks", "CO-60 -5 d", "CO-60 5"})
        EXPECT_FALSE(t.addFromText(line, "lab.txt").ok()) << line;
    EXPECT_EQ(listed(t), recommended);  // nothing of a bad file is taken

    ASSERT_TRUE(t.addFromText("# our own values\nCO-60 1925,3 d  lab certificate\n"
                              "XE-133 5.2475 d\n",
                              "lab.txt")
                    .ok());
    EXPECT_EQ(t.find("Co-60")->source, "lab certificate (lab.txt:2)");
    EXPECT_DOUBLE_EQ(t.find("xe-133")->seconds, 5.2475 * 86400);
    expectAsKept("qc_half_lives.txt", recommended + "after lab.txt\n" + listed(t));
}

// Numbers separated by commas.
std::vector<double> numbers(const std::string& list) {
    std::vector<double> out;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) out.push_back(std::stod(item));
    return out;
}

TEST(QcWestgard, TextbookSequencesFireEachRuleOnce) {
    for (const auto& c : testing::caseTable("westgard.tsv", 3)) {
        const std::vector<double> z = numbers(c[0]);
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

    // The baseline's mean and sample deviation.
    const Baseline b = baselineOf({2, 4, 4, 4, 5, 5, 7, 9});
    EXPECT_DOUBLE_EQ(b.mean, 5);
    EXPECT_DOUBLE_EQ(b.sd, std::sqrt(32.0 / 7));
    EXPECT_EQ(baselineOf({3}).sd, 0);
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
        const Status st = computeTrend(q, table, t);
        if (c[5] == "refused") {
            EXPECT_NE(st.description.find(c[6]), std::string::npos)
                << c.where("qc_decay.tsv") << " " << st.description;
            EXPECT_FALSE(t.limitsSet()) << c.where("qc_decay.tsv");
            for (const auto& p : t.points) EXPECT_TRUE(p.rules.empty()) << c.where("qc_decay.tsv");
            continue;
        }
        ASSERT_TRUE(st.ok()) << c.where("qc_decay.tsv") << " " << st.description;
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

// The daily check-source counts among blanks, one unreadable date and one text value,
// charted as stored, decay-corrected, and against a baseline of ten days in June.
TEST(QcTrendOnDatabase, SummaryAndPointsOfEachQueryAsKept) {
    testing::TestFolder folder;
    const std::string path = folder.file("results.db");
    std::vector<testing::CheckCount> counts = testing::dailyCounts(20, 5);
    counts.push_back({"CHECK CO-60", "Measurement Date", 1000, 50});
    const std::unique_ptr<db::Engine> engine = db::makeEngine();
    testing::appendCounts(*engine, path, counts);
    Status st;
    testing::RawDb(path).query("UPDATE SamData SET \"CO-60@LINE1\" = 'n/a' WHERE \"idxRec#\" = 2");
    const std::unique_ptr<db::Database> db = engine->openDatabase(path, st);
    ASSERT_TRUE(st.ok()) << st.description;

    TrendQuery query;
    query.column = "CO-60@LINE1";
    query.pattern = "check*";
    Trend t;  // one trend for every query: each build starts it afresh
    std::string printed;
    std::vector<std::size_t> judged;
    const auto chart = [&] {
        ASSERT_TRUE(buildTrend(*db, query, HalfLifeTable::recommended(), t).ok());
        for (const std::string& line : describeTrend(t)) printed += line + "\n";
        printed += pointsCsv(t);
        judged.push_back(t.judgedCount());
    };
    query.correction = Correction::Off;
    chart();
    query.correction = Correction::Auto;
    chart();
    query.baselineFrom = readDateTime("6/1/02", {});
    query.baselineTo = readDateTime("6/10/02 23:59:59", {});
    chart();
    expectAsKept("qc_trend_on_database.txt", printed);
    EXPECT_EQ(judged, (std::vector<std::size_t>{39, 39, 49}));

    query.column = "CO-60@LINE9";
    st = buildTrend(*db, query, HalfLifeTable::recommended(), t);
    EXPECT_EQ(st.description, "the table has no column \"CO-60@LINE9\"");
    query.column = "CO-60@LINE1";
    query.pattern = "NOTHING*";
    EXPECT_NE(buildTrend(*db, query, HalfLifeTable::recommended(), t)
                  .description.find("no record with a readable value"),
              std::string::npos);
}

}  // namespace
}  // namespace krv::qc
