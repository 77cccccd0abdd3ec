#include "krvtool/tool.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/results_table.h"
#include "tests/support/test_folder.h"
#include "tests/support/tool_run.h"

namespace krv::tool {
namespace {

using testing::ToolRun;

struct Captured {
    std::ostringstream out, err;
    Io io{out, err, false};
};

// Every subcommand's usage contract: a wrong command line is status 2 and one line on
// standard error, before anything is opened or written.
TEST(ToolFrame, UsageErrorsOfEverySubcommandAreOneLineWithStatusTwo) {
    testing::TestFolder folder;
    const QString db = QString::fromStdString(folder.file("results.db"));
    const QString in = QString::fromStdString(folder.file("in"));
    auto engine = db::makeEngine();
    ASSERT_TRUE(testing::buildResultsDb(*engine, db.toStdString(), {"CO-60@NET1"}, {}).ok());
    const QStringList qc = {"qc", db, "--column", "CO-60@NET1", "--match", "C*"};
    const struct {
        QStringList args;
        const char* said;  // part of the line, when the case names what is wrong
    } cases[] = {
        {{"frobnicate", "x.db"}, "unknown subcommand 'frobnicate' (krvtool --help lists them)"},
        {{"export"}, ""},
        {{"export", db, "--format", "pdf"}, "unknown format 'pdf'"},
        {{"export", db, "--records", "5..2"}, ""},
        {{"export", db, "--records", "0..2"}, ""},
        {{"export", db, "--records", "x"}, ""},
        {{"export", db, "--keywords", "map.csv"}, ""},
        {{"export", db, "--format", "lims2d", "--sample-id", "barcode"}, ""},
        {{"export", db, "--format", "lims2d", "--lims-version", "3.0"}, ""},
        {{"export", db, "--format", "lims2d", "--duplicates", "merge"}, ""},
        {{"export", db, "--duplicates", "first"}, ""},
        {{"export", db, "--lims-version", "2.4"}, ""},
        {{"export", db, "--columns", ","}, ""},
        {{"export", db, "--frobnicate"}, "Unknown option 'frobnicate'"},
        {{"copy", db}, ""},
        {{"copy", db, db}, "the same"},
        {{"audit"}, ""},
        {{"audit", "--since", "1.12.2026", db}, "'1.12.2026'"},
        {{"qc", db, "--match", "C*"}, "--column is required"},
        {{"qc", db, "--column", "CO-60@NET1"}, "--match is required"},
        {qc + QStringList{"--on", "barcode"}, "--on takes id or file"},
        {qc + QStringList{"--decay", "maybe"}, "--decay takes auto, on or off"},
        {qc + QStringList{"--from", "6/31/02"}, "--from: cannot read the date '6/31/02'"},
        {qc + QStringList{"--ref-date", "x"}, "--ref-date: cannot read the date"},
        {qc + QStringList{"--baseline", "1"}, "--baseline takes a number of points"},
        {qc + QStringList{"--baseline", "5", "--to", "6/1/02"}, "two ways"},
        {qc + QStringList{"--year-pivot", "101"}, "--year-pivot takes a number from 0 to 100"},
        {{"import-legacy", db}, ""},
        {{"import-reports", "--mode", "counts", db, in},
         "import-reports: --mode must be activity, net, gross or bkg"},
        {{"watch", "--mode", "net", "--interval", "0", in, db}, ""},
    };
    for (const auto& c : cases) {
        ToolRun r(c.args);
        const std::string line = c.args.join(' ').toStdString();
        EXPECT_EQ(r.status, kUsage) << line;
        EXPECT_EQ(r.errLines(), 1) << line << ": " << r.err.str();
        EXPECT_EQ(r.err.str().rfind("krvtool: ", 0), 0u) << r.err.str();
        EXPECT_NE(r.err.str().find(c.said), std::string::npos) << r.err.str();
        EXPECT_TRUE(r.out.str().empty()) << line;
    }
    EXPECT_EQ(testing::readFile(db.toStdString()).substr(0, 15), "SQLite format 3");
}

TEST(ToolFrame, TopLevelUsageAndVersion) {
    Captured c;
    EXPECT_EQ(runTool({}, c.io), kUsage);
    EXPECT_NE(c.out.str().find("Usage: krvtool SUBCOMMAND"), std::string::npos);

    Captured v;
    EXPECT_EQ(runTool({"--version"}, v.io), kDone);
    EXPECT_EQ(v.out.str().rfind("krvtool ", 0), 0u);
}

TEST(ToolFrame, SubcommandOptionsHelpErrorsAndArgumentCounts) {
    auto parse = [](const QStringList& args, Captured& c, QCommandLineParser& p) {
        p.addOption(QCommandLineOption(QStringLiteral("format"), QStringLiteral("Format."),
                                       QStringLiteral("F"), QStringLiteral("csv")));
        p.addPositionalArgument(QStringLiteral("DB"), QStringLiteral("The database."));
        return parseOptions(p, QStringLiteral("export"), args, c.io, 1, 1);
    };
    {
        Captured c;
        QCommandLineParser p;
        EXPECT_EQ(parse({"--help"}, c, p), std::optional<int>(kDone));
        EXPECT_EQ(c.out.str().rfind("Usage: krvtool export [options] DB", 0), 0u) << c.out.str();
    }
    {
        Captured c;
        QCommandLineParser p;
        EXPECT_EQ(parse({"--colour", "x.db"}, c, p), std::optional<int>(kUsage));
        EXPECT_NE(c.err.str().find("krvtool: export: Unknown option 'colour'"), std::string::npos)
            << c.err.str();
    }
    for (const QStringList& wrong : {QStringList{}, QStringList{"a.db", "b.db"}}) {
        Captured c;
        QCommandLineParser p;
        EXPECT_EQ(parse(wrong, c, p), std::optional<int>(kUsage));
        const std::string err = c.err.str();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    {
        Captured c;
        QCommandLineParser p;
        EXPECT_EQ(parse({"-format", "xlsx", "a.db"}, c, p), std::nullopt);
        EXPECT_EQ(p.value(QStringLiteral("format")), QStringLiteral("xlsx"));
        EXPECT_EQ(p.positionalArguments(), QStringList{"a.db"});
    }
}

TEST(ToolFrame, ProgressStaysSilentWithoutATerminal) {
    Captured quiet;
    Progress p(quiet.io, "records", 10);
    for (int i = 0; i <= 10; ++i) p.step(i);
    p.finish();
    EXPECT_TRUE(quiet.err.str().empty());

    std::ostringstream out, err;
    Io tty{out, err, true};
    Progress shown(tty, "records", 10);
    shown.step(5);
    shown.finish();
    EXPECT_NE(err.str().find("5/10 records"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().back(), '\n');
}

}  // namespace
}  // namespace krv::tool
