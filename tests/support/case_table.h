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

// Every case of tests/data/`name`; each row has `fields` fields, or the test fails.
inline std::vector<CaseRow> caseTable(const std::string& name, std::size_t fields) {
    std::ifstream in(std::string(KRV_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "no case table " << name;
    std::vector<CaseRow> rows;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (text.empty() || text[0] == '#') continue;
        CaseRow row{line, {""}};
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\t') {
                row.fields.emplace_back();
            } else if (text[i] != '\\' || i + 1 == text.size() || text[i + 1] == '\t') {
                row.fields.back() += text[i];
            } else {
                const char c = text[++i];
                row.fields.back() += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
            }
        }
        EXPECT_EQ(row.fields.size(), fields) << row.where(name);
        if (row.fields.size() == fields) rows.push_back(std::move(row));
    }
    EXPECT_FALSE(rows.empty()) << name;
    return rows;
}

}  // namespace krv::testing
