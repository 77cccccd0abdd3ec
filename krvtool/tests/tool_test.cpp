#include "krvtool/tool.h"

#include <gtest/gtest.h>

#include <sstream>

namespace krv::tool {
namespace {

struct Captured {
    std::ostringstream out, err;
    Io io{out, err, false};
};

TEST(ToolFrame, TopLevelUsageAndVersion) {
    Captured c;
    EXPECT_EQ(runTool({}, c.io), kUsage);
    EXPECT_NE(c.out.str().find("Usage: krvtool SUBCOMMAND"), std::string::npos);

    Captured v;
    EXPECT_EQ(runTool({"--version"}, v.io), kDone);
    EXPECT_EQ(v.out.str().rfind("krvtool ", 0), 0u);

    Captured u;
    EXPECT_EQ(runTool({"frobnicate", "x.db"}, u.io), kUsage);
    EXPECT_EQ(u.err.str(),
              "krvtool: unknown subcommand 'frobnicate' (krvtool --help lists them)\n");
    EXPECT_TRUE(u.out.str().empty());
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
