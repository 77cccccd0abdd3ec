// Command words as a job script uses them, after each count, with no display; and the
// program as `cmake --install` or the package lays it out: bin/ beside share/, each
// user's settings in their own configuration folder, nothing written beside the program.

#include <gtest/gtest.h>

#include <memory>

#include "platform/platform.h"
#include "tests/support/case_table.h"
#include "tests/support/job_folder.h"
#include "tests/support/raw_db.h"

namespace krv::testing {
namespace {

namespace fs = std::filesystem;

std::pair<std::string, std::string> splitAt(const std::string& s, char at) {
    const std::size_t i = s.find(at);
    return {s.substr(0, i), i == std::string::npos ? "" : s.substr(i + 1)};
}

// Each case of tests/data/unattended_runs.tsv in a job folder of its own.
TEST(Unattended, CommandWordsEndWithTheirStatusTheirLinesAndTheirRecord) {
    const std::string table = "unattended_runs.tsv";
    std::unique_ptr<JobFolder> job;
    std::string current;
    for (const CaseRow& c : caseTable(table, 8)) {
        SCOPED_TRACE(c.where(table));
        if (c[0] != current) {
            current = c[0];
            job = std::make_unique<JobFolder>();
            job->writeReport(cobaltReport("SAMPLE-7 soil core"));
        }
        if (const auto [db, report] = splitAt(c[1], '|'); !db.empty())
            job->usePaths(job->file(db), job->file(report));
        const auto [setUp, what] = splitAt(c[2], ' ');
        if (setUp == "sql") {
            RawDb(job->database).query(what);
        } else if (setUp == "folder") {
            fs::create_directory(*job / what);
        } else if (const auto [name, text] = splitAt(what, '|'); setUp == "file") {
            writeFile(*job / name, text);
        } else {
            EXPECT_EQ(setUp, "");
        }
        if (c[3] != "-") {
            const JobRun r = job->run(QString::fromStdString(c[3]).split(' ', Qt::SkipEmptyParts));
            EXPECT_EQ(r.exitCode, std::stoi(c[4]));
            std::string err = c[5];
            for (std::size_t at; (at = err.find("$DIR")) != std::string::npos;)
                err.replace(at, 4, job->path().string());
            EXPECT_EQ(r.stdErr, err);
        }
        const auto [check, of] = splitAt(c[6], ' ');
        if (check == "sql") {
            EXPECT_EQ(RawDb(job->database).scalar(of).value_or("null"), c[7]);
        } else if (check == "file") {
            EXPECT_EQ(readFile(*job / of), c[7]);
        } else if (check == "settings") {
            EXPECT_EQ(readFile(*job / "ARC&FILE.DAT"),
                      settingsRecord(job->database, job->reportPath));
        } else {
            EXPECT_EQ(check, "");
        }
    }
}

// Gives p to another user when the test runs as root (root later running with a user's
// HOME); otherwise takes the write permission away, which an ordinary user then lacks.
void giveAway(const fs::path& p) {
    if (platform::runningAsAdministrator()) {
        EXPECT_EQ(platform::runProgram({"chown", "65534", p.string()}), 0);
    } else {
        fs::permissions(p,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
}

std::string listing(const fs::path& folder) {
    std::string list;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        list += e.path().string() + " " +
                (e.is_regular_file() ? std::to_string(e.file_size()) : "") + "\n";
    return list;
}

TEST(Installed, EachUserKeepsSettingsInTheirConfigurationFolderOrIsToldItCannot) {
    TestFolder prefix;
    fs::create_directories(prefix / "share/krvarchiver");
    writeFile(prefix / "share/krvarchiver/installed", "");
    fs::create_directories(prefix / "bin");
    fs::copy_file(KRV_EXE, prefix / "bin/krvarchiver");
    const std::string report = prefix.file("RESULTS.TXT");
    writeFile(report, cobaltReport("SAMPLE-7 soil core"));
    const auto run = [&](const fs::path& home, const QStringList& args) -> JobRun {
        ProcessSetup setup;
        setup.unset = {QStringLiteral("XDG_CONFIG_HOME")};
        setup.environment = {{QStringLiteral("HOME"), QString::fromStdString(home.string())}};
        return runJobProcess(QString::fromStdString(prefix.file("bin/krvarchiver")), args, setup);
    };

    const fs::path ann = prefix / "ann";
    fs::create_directories(ann / ".config/krvarchiver");
    const std::string db = (ann / "results.mdb").string();
    writeFile(ann / ".config/krvarchiver/ARC&FILE.DAT", settingsRecord(db, report));
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

    // A home where no folder can be made, one that is not ours, and a settings file that is
    // not ours: said, and nothing is written anywhere.
    writeFile(prefix / "afile", "");
    const fs::path other = prefix / "other";
    fs::create_directory(other);
    giveAway(other);
    const fs::path mine = prefix / "mine";
    fs::create_directories(mine / ".config/krvarchiver");
    writeFile(mine / ".config/krvarchiver/ArcSiz&FILE.DAT", " 900\r\n");
    giveAway(mine / ".config/krvarchiver/ArcSiz&FILE.DAT");
    for (const fs::path& home : {prefix / "afile", other, mine}) {
        const std::string before = listing(home);
        r = run(home, {"RESET"});
        EXPECT_NE(r.stdErr.find("cannot be used"), std::string::npos) << home << r.stdErr;
        EXPECT_NE(r.stdErr.find("The default paths are used and no settings are saved."),
                  std::string::npos);
        EXPECT_EQ(listing(home), before);
    }
    EXPECT_EQ(listing(prefix / "bin"),
              prefix.file("bin/krvarchiver") + " " + std::to_string(fs::file_size(KRV_EXE)) + "\n");

    // Settings already beside the program stay in use.
    const std::string beside = prefix.file("beside.mdb");
    writeFile(prefix / "bin/ARC&FILE.DAT", settingsRecord(beside, report));
    r = run(prefix / "carl", {"GROSS"});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    EXPECT_TRUE(fs::exists(beside));
    EXPECT_FALSE(fs::exists(prefix / "carl"));
}

}  // namespace
}  // namespace krv::testing
