#pragma once

// A results database made through the store's own interface, with the seven fixed
// columns, the given isotope columns and records given cell by cell in column order.

#include <string>
#include <vector>

#include "results_db/archive.h"
#include "results_db/store.h"
#include "tests/support/raw_db.h"

namespace krv::testing {

inline Status buildResultsDb(db::Engine& engine, const std::string& path,
                             const std::vector<std::string>& isotopes,
                             const std::vector<std::vector<db::Value>>& records) {
    return engine.createDatabase(path, [&](db::Database& d) {
        Status s = d.createTable(kTableName, fixedFields(), kIndexName, kRecordNumberField);
        std::vector<db::FieldInfo> fields = fixedFields();
        for (const auto& name : isotopes) {
            fields.push_back({name, db::FieldType::Text, 10});
            if (s.ok()) s = d.appendField(kTableName, fields.back());
        }
        for (const auto& record : records) {
            std::vector<std::pair<std::string, db::Value>> values;
            for (std::size_t i = 0; i < record.size() && i < fields.size(); ++i)
                values.emplace_back(fields[i].name, record[i]);
            if (s.ok()) s = d.insertRecord(kTableName, values);
        }
        return s;
    });
}

// Fills a results table up to `count` records with copies of its first one, numbered on and
// with the ID Text `idPrefix` and the number, in one SQL statement: the store would sync
// every insert.
inline void repeatFirstRecord(const std::string& path, int count, const std::string& idPrefix) {
    RawDb db(path);
    std::string copied;
    for (const std::string& c : db.columns()) {
        const std::string name = "\"" + c.substr(0, c.rfind(' ')) + "\"";
        copied +=
            (copied.empty() ? "" : ", ") + (name == "\"idxRec#\""   ? std::string("n.i")
                                            : name == "\"ID Text\"" ? "'" + idPrefix + "' || n.i"
                                                                    : name);
    }
    db.query("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < " +
             std::to_string(count) + ") INSERT INTO SamData SELECT " + copied +
             " FROM n, SamData WHERE \"idxRec#\" = 1");
}

}  // namespace krv::testing
