#include "app/session.h"

#include "audit/audit.h"
#include "platform/platform.h"
#include "report/parser.h"
#include "results_db/archive.h"

namespace krv {

JobOutcome runCommandJob(const CommandJob& job, WindowState& state, Dialogs& dialogs,
                         db::Engine& engine) {
    switch (job.kind) {
        case CommandJob::Append: {
            state.appendMode = job.appendMode;
            // The append runs even when the read failed, as it does from the window; a
            // record saved from a report that was not read lacks every value it carries.
            const JobOutcome read = readKrvFile(state, dialogs);
            JobOutcome append = appendIt(state, dialogs, engine, platform::systemDecimalSeparator(),
                                         audit::noteMissingValues);
            if (append.ok && !read.ok)
                append.missing.insert(append.missing.begin(), {"report", read.reason});
            return append;
        }
        case CommandJob::Reset:
            state.blindFlag = true;
            return createDb(state, dialogs, engine, audit::startTrailWithReset);
        case CommandJob::None:
            break;
    }
    return JobOutcome::done();
}

}  // namespace krv
