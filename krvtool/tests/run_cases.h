#pragma once

// krvtool runs kept as data: a row of a table under tests/data/ ends in four fields, the
// arguments (separated by spaces), the exit status, then what standard output and standard
// error hold: "-" not checked, "~TEXT" holding TEXT, anything else the whole stream. Words
// such as $DB stand for files the test made.

#include <gtest/gtest.h>

#include <QStringList>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/case_table.h"

namespace krv::testing {

using Words = std::vector<std::pair<std::string, std::string>>;

inline std::string substitute(std::string s, const Words& words) {
    for (const auto& [word, value] : words)
        for (std::size_t at; (at = s.find(word)) != std::string::npos;)
            s.replace(at, word.size(), value);
    return s;
}

inline QStringList caseArgs(const CaseRow& c, std::size_t at, const Words& words) {
    QStringList args;
    for (const QString& word : QString::fromStdString(c[at]).split(' ', Qt::SkipEmptyParts))
        args << QString::fromStdString(substitute(word.toStdString(), words));
    return args;
}

// The status and the two streams of a run against the row's fields from `at` on.
inline void expectRunEnd(const CaseRow& c, std::size_t at, const Words& words, int status,
                         const std::string& out, const std::string& err, const std::string& where) {
    EXPECT_EQ(status, std::stoi(c[at + 1])) << where << ": " << err;
    for (const auto& [stream, field] : {std::pair{&out, at + 2}, std::pair{&err, at + 3}}) {
        const std::string want = substitute(c[field], words);
        if (want.rfind('~', 0) == 0) {
            EXPECT_NE(stream->find(want.substr(1)), std::string::npos) << where << ": " << *stream;
        } else if (want != "-") {
            EXPECT_EQ(*stream, want) << where;
        }
    }
}

}  // namespace krv::testing
