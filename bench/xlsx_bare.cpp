// The yardstick for the spreadsheet export: libxlsxwriter alone, in the same
// constant-memory mode, writing the cells the export writes for the benchmark's table
// (values computed, no store read, no text conversion).
// Usage: xlsx_bare OUT.xlsx dense|sparse

#include <xlsxwriter.h>

#include <cstring>

#include "bench/export_table.h"

int main(int argc, char** argv) {
    using namespace krv::bench;
    if (argc != 3) return 2;
    const bool sparse = std::strcmp(argv[2], "sparse") == 0;
    lxw_workbook_options opts{};
    opts.constant_memory = LXW_TRUE;
    opts.use_zip64 = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(argv[1], &opts);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "SamData");
    static const char* kFixed[] = {"idxRec#",     "File Name",     "ID Text", "Date & time",
                                   "Sample Date", "Counting Time", "DT %"};
    for (int c = 0; c < kExportColumns; ++c) {
        const std::string name = c < kFixedColumns ? kFixed[c] : columnName(c);
        worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), name.c_str(), nullptr);
    }
    for (int r = 1; r <= kExportRecords; ++r) {
        const auto row = static_cast<lxw_row_t>(r);
        worksheet_write_number(ws, row, 0, r % 32768, nullptr);
        worksheet_write_string(ws, row, 1, "S0421.CNF", nullptr);
        worksheet_write_string(ws, row, 2, idText(r).c_str(), nullptr);
        worksheet_write_string(ws, row, 3, "5/14/02  09:31:05", nullptr);
        worksheet_write_string(ws, row, 4, "5/14/02  09:31:05", nullptr);
        worksheet_write_number(ws, row, 5, 3600, nullptr);
        worksheet_write_number(ws, row, 6, 3.2, nullptr);
        for (int c = kFixedColumns; c < kExportColumns; ++c)
            if (hasValue(r, c, sparse))
                worksheet_write_number(ws, row, static_cast<lxw_col_t>(c), isotopeNumber(r, c),
                                       nullptr);
    }
    return workbook_close(wb) == LXW_NO_ERROR ? 0 : 1;
}
