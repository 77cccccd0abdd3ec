#pragma once

// Cases kept as data: a file under tests/data/ holds one case a line, its fields separated
// by tabs. Blank lines and lines starting with '#' are notes. In a field, a backslash
// before r, n or t stands for CR, LF or a tab, and before any other character for that
// character, so line ends inside a case stay visible.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace krv::testing {

struct CaseRow {
    int line = 0;
    std::vector<std::string> fields;
    const std::string& operator[](std::size_t i) const { return fields.at(i); }
    // Where the case comes from, for a failure message.
    std::string where(const std::string& file) const { return file + ":" + std::to_string(line); }
};

inline std::string unescapeCaseField(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// Every case of tests/data/`name`; each row has `fields` fields, or the test fails.
inline std::vector<CaseRow> caseTable(const std::string& name, std::size_t fields) {
    std::ifstream in(std::string(KRV_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "no case table " << name;
    std::vector<CaseRow> rows;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (text.empty() || text[0] == '#') continue;
        CaseRow row{line, {}};
        for (std::size_t start = 0;;) {
            const std::size_t tab = text.find('\t', start);
            row.fields.push_back(unescapeCaseField(text.substr(start, tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        EXPECT_EQ(row.fields.size(), fields) << row.where(name);
        if (row.fields.size() == fields) rows.push_back(std::move(row));
    }
    EXPECT_FALSE(rows.empty()) << name;
    return rows;
}

}  // namespace krv::testing
