#pragma once

// krvtool killed in the middle of a job, and the rerun that must complete it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "tests/support/process_run.h"

namespace krv::testing {

// Starts krvtool with `args` and kills it once `ready` says so (polled for up to 12 s), or
// after `wait` without one.
inline void killDuring(const QStringList& args, std::chrono::milliseconds wait,
                       const std::function<bool()>& ready = {}) {
    QProcess p;
    startJobProcess(p, QStringLiteral(KRV_TOOL), args);
    ASSERT_TRUE(p.waitForStarted());
    for (int polled = 0; ready && polled < 6000 && !ready(); ++polled)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!ready) std::this_thread::sleep_for(wait);
    p.kill();
    p.waitForFinished();
}

// The rerun succeeds and leaves none of the private files of a run in `folder`.
inline void expectRerunCompletes(const QStringList& args, const std::filesystem::path& folder) {
    const ProcessRun rerun = runJobProcess(QStringLiteral(KRV_TOOL), args);
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos)
            << entry.path();
}

}  // namespace krv::testing
