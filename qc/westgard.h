#pragma once

// Levey-Jennings limits from a baseline, and the Westgard rules over a run of points.

#include <cstdint>
#include <string>
#include <vector>

namespace krv::qc {

enum class Rule : std::uint8_t { W12s, R13s, R22s, R41s, R4s, R10x };

// The rule's name as a lab writes it: "1-2s", "1-3s", "2-2s", "R-4s", "4-1s", "10x".
const char* ruleName(Rule r);
// The rules' names separated by blanks: "1-3s R-4s".
std::string rulesText(const std::vector<Rule>& rules);
// Every rule but 1-2s rejects the run; 1-2s only warns.
inline bool rejects(Rule r) { return r != Rule::W12s; }

struct Baseline {
    double mean = 0;
    double sd = 0;  // sample standard deviation (n - 1)
    std::size_t count = 0;
};

// Mean and spread of the given values; count < 2 leaves sd at 0.
Baseline baselineOf(const std::vector<double>& values);

struct RuleSettings {
    // With one value per run, R-4s compares consecutive points; off, it never fires.
    bool range4sAcrossPoints = true;
};

// The rules each point breaks, judged from its z-score and those before it. Patterns may
// reach back into points that are not judged (the baseline), but only points with
// judged[i] true get rules. 1-2s is listed only on a point that breaks no rejection rule.
std::vector<std::vector<Rule>> applyRules(const std::vector<double>& z,
                                          const std::vector<bool>& judged,
                                          const RuleSettings& settings);

}  // namespace krv::qc
