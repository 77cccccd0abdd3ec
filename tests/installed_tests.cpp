// The program as `cmake --install` or the package lays it out: bin/ beside share/, each
// user's settings in their own configuration folder, nothing written beside the program.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "platform/platform.h"
#include "tests/support/job_folder.h"
#include "tests/support/raw_db.h"

namespace krv::testing {
namespace {

namespace fs = std::filesystem;

const std::string kReport =
    "ID: SAMPLE-7 soil core\nFile: S7.CNF\nDate: 12-Mar-2026 10:15:00\n"
    "LT:     300.0 s           DT:  3.2 %\n\n";

std::string record(const std::string& db, const std::string& report) {
    std::string a = db, b = report;
    a.resize(72, ' ');
    b.resize(72, ' ');
    return a + b;
}

class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix / "bin");
        fs::create_directories(prefix / "share/krvarchiver");
        fs::copy_file(KRV_EXE, prefix / "bin/krvarchiver");
        writeFile(prefix / "share/krvarchiver/installed", "");
        writeFile(prefix / "RESULTS.TXT", kReport);
    }
    JobRun run(const fs::path& home, const QStringList& args) {
        ProcessSetup setup;
        setup.unset = {QStringLiteral("XDG_CONFIG_HOME")};
        setup.environment = {{QStringLiteral("HOME"), QString::fromStdString(home.string())}};
        return runJobProcess(QString::fromStdString((prefix / "bin/krvarchiver").string()), args,
                             setup);
    }
    std::vector<std::string> binFolder() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(prefix / "bin"))
            names.push_back(e.path().filename().string());
        return names;
    }
    TestFolder prefix;
};

TEST_F(Installed, EachUserKeepsSettingsInTheirConfigurationFolder) {
    const fs::path ann = prefix / "ann";
    const fs::path config = ann / ".config/krvarchiver";
    fs::create_directories(config);
    const std::string db = (ann / "results.mdb").string();
    writeFile(config / "ARC&FILE.DAT", record(db, (prefix / "RESULTS.TXT").string()));
    JobRun r = run(ann, {"NET"});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    EXPECT_EQ(RawDb(db).scalar("SELECT trim(\"ID Text\") FROM SamData").value_or(""),
              "SAMPLE-7 soil core");

    // A first start creates the folder and the empty files, as a copied program does
    // beside itself.
    const fs::path bob = prefix / "bob";
    fs::create_directory(bob);
    r = run(bob, {"RESET"});
    EXPECT_EQ(fs::file_size(bob / ".config/krvarchiver/ARC&FILE.DAT"), 0u);
    EXPECT_EQ(fs::file_size(bob / ".config/krvarchiver/ArcSiz&FILE.DAT"), 0u);
    EXPECT_EQ(binFolder(), std::vector<std::string>{"krvarchiver"});
}

TEST_F(Installed, SettingsAlreadyBesideTheProgramStayInUse) {
    const std::string db = prefix.file("beside.mdb");
    writeFile(prefix / "bin/ARC&FILE.DAT", record(db, (prefix / "RESULTS.TXT").string()));
    const JobRun r = run(prefix / "ann", {"GROSS"});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    EXPECT_TRUE(fs::exists(db));
    EXPECT_FALSE(fs::exists(prefix / "ann"));
}

// Gives p to another user when the test runs as root (root later running with a user's
// HOME); otherwise takes the write permission away, which an ordinary user then lacks.
void giveAway(const fs::path& p) {
    if (platform::runningAsAdministrator()) {
        EXPECT_EQ(QProcess::execute(QStringLiteral("chown"),
                                    {QStringLiteral("65534"), QString::fromStdString(p.string())}),
                  0);
    } else {
        fs::permissions(p,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
}

std::string listing(const fs::path& folder) {
    std::string list;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != decltype(it)();
         it.increment(ec))
        list += it->path().string() + " " +
                (it->is_regular_file() ? std::to_string(it->file_size()) : "") + "\n";
    return list;
}

TEST_F(Installed, UnusableSettingsFolderIsSaidAndNothingIsWrittenElsewhere) {
    writeFile(prefix / "afile", "");  // a home where no folder can be made
    const fs::path other = prefix / "other";
    fs::create_directory(other);
    giveAway(other);
    const fs::path mine = prefix / "mine";
    fs::create_directories(mine / ".config/krvarchiver");
    writeFile(mine / ".config/krvarchiver/ArcSiz&FILE.DAT", " 900\r\n");
    giveAway(mine / ".config/krvarchiver/ArcSiz&FILE.DAT");

    for (const fs::path& home : {prefix / "afile", other, mine}) {
        const std::string before = listing(home);
        const JobRun r = run(home, {"RESET"});
        EXPECT_NE(r.stdErr.find("cannot be used"), std::string::npos) << home << r.stdErr;
        EXPECT_NE(r.stdErr.find("The default paths are used and no settings are saved."),
                  std::string::npos);
        EXPECT_EQ(listing(home), before);
    }
    EXPECT_EQ(binFolder(), std::vector<std::string>{"krvarchiver"});
}

}  // namespace
}  // namespace krv::testing
