#include "qc/westgard.h"

#include <cmath>

namespace krv::qc {

std::string rulesText(const std::vector<Rule>& rules) {
    std::string s;
    for (Rule r : rules) s += (s.empty() ? "" : " ") + std::string(ruleName(r));
    return s;
}

const char* ruleName(Rule r) {
    switch (r) {
        case Rule::W12s:
            return "1-2s";
        case Rule::R13s:
            return "1-3s";
        case Rule::R22s:
            return "2-2s";
        case Rule::R41s:
            return "4-1s";
        case Rule::R4s:
            return "R-4s";
        case Rule::R10x:
            return "10x";
    }
    return "?";
}

Baseline baselineOf(const std::vector<double>& values) {
    Baseline b;
    b.count = values.size();
    if (values.empty()) return b;
    // Two passes: check-source values sit far from zero, where one-pass sums lose digits.
    double sum = 0;
    for (double v : values) sum += v;
    b.mean = sum / static_cast<double>(values.size());
    if (values.size() < 2) return b;
    double squares = 0;
    for (double v : values) squares += (v - b.mean) * (v - b.mean);
    b.sd = std::sqrt(squares / static_cast<double>(values.size() - 1));
    return b;
}

namespace {

// Whether the `n` points ending at `i` all lie beyond `limit` on one side (sign +1 or -1).
bool runBeyond(const std::vector<double>& z, std::size_t i, std::size_t n, double limit, int sign) {
    if (i + 1 < n) return false;
    for (std::size_t k = i + 1 - n; k <= i; ++k) {
        if (sign > 0 ? !(z[k] > limit) : !(z[k] < -limit)) return false;
    }
    return true;
}

bool runOnOneSide(const std::vector<double>& z, std::size_t i, std::size_t n, double limit) {
    return runBeyond(z, i, n, limit, 1) || runBeyond(z, i, n, limit, -1);
}

}  // namespace

std::vector<std::vector<Rule>> applyRules(const std::vector<double>& z,
                                          const std::vector<bool>& judged,
                                          const RuleSettings& settings) {
    std::vector<std::vector<Rule>> out(z.size());
    for (std::size_t i = 0; i < z.size(); ++i) {
        if (i < judged.size() && !judged[i]) continue;
        std::vector<Rule>& r = out[i];
        if (std::fabs(z[i]) > 3) r.push_back(Rule::R13s);
        if (runOnOneSide(z, i, 2, 2)) r.push_back(Rule::R22s);
        if (settings.range4sAcrossPoints && i >= 1 &&
            ((z[i] > 2 && z[i - 1] < -2) || (z[i] < -2 && z[i - 1] > 2)))
            r.push_back(Rule::R4s);
        if (runOnOneSide(z, i, 4, 1)) r.push_back(Rule::R41s);
        if (runOnOneSide(z, i, 10, 0)) r.push_back(Rule::R10x);
        if (r.empty() && std::fabs(z[i]) > 2) r.push_back(Rule::W12s);
    }
    return out;
}

}  // namespace krv::qc
