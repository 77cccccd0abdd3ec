// Builds the export benchmark's table: a results database made the program's own way,
// widened and filled with plain SQL in one transaction.
// Usage: export_table_gen DB dense|sparse

#include <cstdio>
#include <cstring>

#include "bench/export_table.h"
#include "bench/wide_table.h"

int main(int argc, char** argv) {
    using namespace krv::bench;
    if (argc != 3) {
        std::fprintf(stderr, "usage: export_table_gen DB dense|sparse\n");
        return 2;
    }
    const bool sparse = std::strcmp(argv[2], "sparse") == 0;
    WideTable table;
    table.records = kExportRecords;
    table.columns = kExportColumns;
    table.columnName = columnName;
    table.idText = [](int r) {
        std::string id = idText(r);
        id.resize(72, ' ');
        return id;
    };
    table.sampleDate = "5/14/02  09:31:05       ";
    table.cell = [sparse](int r, int c) {
        return hasValue(r, c, sparse) ? isotopeText(r, c) : std::string();
    };
    table.buildAt(argv[1]);
    return 0;
}
