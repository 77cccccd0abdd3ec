#pragma once

#include <string>
#include <utility>
#include <vector>

namespace krv {

// Outcome of one step of a handler. Handlers record failures and carry on; they look at
// the recorded failure only at the few points where their behaviour depends on it.
struct Status {
    int number = 0;  // 0 means the step succeeded
    std::string description;

    bool ok() const { return number == 0; }
    static Status success() { return {}; }
    static Status failure(int number, std::string description) {
        return Status{number, std::move(description)};
    }
};

// The recorded error of one handler run: the last failed step wins, successful steps
// leave it alone, and clear() starts a new trapped stretch.
class ErrorTrap {
  public:
    void clear() { last_ = Status{}; }
    const Status& record(const Status& s) {
        if (!s.ok()) last_ = s;
        return s;
    }
    bool failed() const { return !last_.ok(); }
    const Status& last() const { return last_; }

  private:
    Status last_;
};

// A value a saved record does not carry, and why (one line each for a job script).
struct MissingValue {
    std::string what;  // the column, or "report" when the report itself could not be read
    std::string reason;
};

// What an unattended job tells its caller (the exit status of a job script): saved whole,
// saved with values missing, or nothing saved.
struct JobOutcome {
    bool ok = true;                     // something was saved (or the reset done)
    std::string reason;                 // one line, when !ok
    std::vector<MissingValue> missing;  // when ok: what the saved record lacks
    // When !ok: the store could not tell whether the record reached it (a commit that
    // failed, and no way to look afterwards); a job must check before running again.
    bool unknown = false;

    bool whole() const { return ok && missing.empty(); }
    static JobOutcome done() { return {}; }
    static JobOutcome failed(std::string why) { return JobOutcome{false, std::move(why), {}}; }
    static JobOutcome savedWithout(std::vector<MissingValue> missing) {
        return JobOutcome{true, {}, std::move(missing)};
    }
    static JobOutcome outcomeUnknown(std::string why) {
        return JobOutcome{false, std::move(why), {}, true};
    }
};

// Error numbers follow the engine the lab's files came from, so logs stay comparable.
namespace err {
inline constexpr int kOverflow = 6;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kBadFileNameOrNumber = 52;
inline constexpr int kFileNotFound = 53;
inline constexpr int kDiskFull = 61;
inline constexpr int kInputPastEnd = 62;
inline constexpr int kBadFileName = 64;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kItemNotFound = 3265;
inline constexpr int kFieldTooSmall = 3163;
inline constexpr int kNotADatabase = 3343;
inline constexpr int kCantOpenDatabase = 3044;
inline constexpr int kTableNotFound = 3078;
inline constexpr int kDuplicateName = 3191;
inline constexpr int kDatabaseExists = 3204;
inline constexpr int kInvalidName = 3125;
inline constexpr int kTooManyFields = 3190;
inline constexpr int kLocked = 3260;
inline constexpr int kNoCurrentRecord = 3021;
inline constexpr int kEngine = 3000;
}  // namespace err

}  // namespace krv
