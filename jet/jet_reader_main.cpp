// krv-jet-reader FILE TABLE: writes one table of a Jet database to standard output, for
// the legacy import that starts it. It runs in a process of its own because the reading
// library crashes or loops on some damaged files; the parent turns that into a message.
//
// Output, one line each (every name and value hex-encoded, so no byte needs escaping):
//   KRVJET 1 <jet version>
//   C <Jet type number> <size in characters> <name>
//   R <cell> <cell> ...     cell: "-" for NULL, else the bytes: little-endian raw
//                           storage for fixed-size numbers, UTF-8 for texts, 1 byte
//                           (00 or 01) for Boolean
//   END <rows>
// or, instead of the rest, "E <code> <message>" with code notjet, notable or damaged.

#include <glib.h>  // before mdbtools.h: its header includes glib inside extern "C"
#include <mdbtools.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "report/text.h"

namespace {

constexpr int kOffsetMask = 0x1fff;
constexpr std::size_t kTextBuffer = 256 * 1024;

void hex(std::string& out, const void* data, std::size_t size) {
    krv::text::appendHex(out, std::string_view(static_cast<const char*>(data), size));
}

int refuse(const char* code, const std::string& message) {
    std::string line = std::string("E ") + code + " ";
    hex(line, message.data(), message.size());
    std::printf("%s\n", line.c_str());
    return 1;
}

// Texts, memos and the kinds decoded only by the library come as the library's text.
bool boundAsText(int type) {
    return type == MDB_TEXT || type == MDB_MEMO || type == MDB_NUMERIC || type == MDB_REPID;
}

// Where the library puts the text of each column read as text.
struct TextCells {
    std::vector<std::vector<char>> text;
    std::vector<int> length;
};

// One "C" line per column; the columns read as text are bound to their buffers.
void writeColumns(MdbHandle* mdb, MdbTableDef* table, bool jet3, TextCells& cells) {
    const unsigned columns = table->num_cols;
    cells.text.resize(columns);
    cells.length.assign(columns, 0);
    for (unsigned i = 0; i < columns; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        int size = col->col_size;
        // Jet 4 keeps text sizes in bytes of UCS-2.
        if (col->col_type == MDB_TEXT && !jet3) size /= 2;
        std::string line = "C " + std::to_string(col->col_type) + " " + std::to_string(size) + " ";
        hex(line, col->name, std::char_traits<char>::length(col->name));
        std::printf("%s\n", line.c_str());
        if (boundAsText(col->col_type)) {
            cells.text[i].resize(kTextBuffer);
            mdb_bind_column(table, static_cast<int>(i + 1), cells.text[i].data(), &cells.length[i]);
        }
    }
    mdb_set_bind_size(mdb, kTextBuffer);
}

// The row's cells, each after a blank, as the "R" line carries them.
void appendCells(std::string& line, MdbTableDef* table,
                 const std::vector<const MdbField*>& byColumn, const TextCells& cells) {
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        const MdbField* f = byColumn[i];
        line += ' ';
        if (col->col_type == MDB_BOOL) {
            // The value lives in the null mask; a Boolean is never NULL.
            line += (f && !f->is_null) ? "01" : "00";
        } else if (!f || f->is_null) {
            line += '-';
        } else if (boundAsText(col->col_type)) {
            const int n = std::max(0, std::min<int>(cells.length[i], kTextBuffer));
            hex(line, cells.text[i].data(), static_cast<std::size_t>(n));
        } else {
            hex(line, f->value, static_cast<std::size_t>(std::max(0, f->siz)));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: krv-jet-reader FILE TABLE\n");
        return 2;
    }
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(argv[1], ec);
    if (ec) return refuse("notjet", ec.message());

    // Read-only: the old file is never changed.
    MdbHandle* mdb = mdb_open(argv[1], MDB_NOFLAGS);
    if (!mdb) return refuse("notjet", "not a Jet database");
    const bool jet3 = mdb->f->jet_version == MDB_VER_JET3;
    if (!mdb_read_catalog(mdb, MDB_TABLE)) return refuse("damaged", "catalog unreadable");
    MdbTableDef* table = mdb_read_table_by_name(mdb, argv[2], MDB_TABLE);
    if (!table) return refuse("notable", std::string("no table ") + argv[2]);
    if (!mdb_read_columns(table)) return refuse("damaged", "column list unreadable");
    mdb_rewind_table(table);

    std::printf("KRVJET 1 %u\n", static_cast<unsigned>(mdb->f->jet_version));
    const unsigned columns = table->num_cols;
    TextCells cells;
    writeColumns(mdb, table, jet3, cells);

    // A damaged page chain can make the scan go round forever; no honest table has more
    // rows than its file has bytes.
    std::uintmax_t rows = 0;
    std::vector<MdbField> fields(columns);
    std::vector<const MdbField*> byColumn(columns);
    std::string line;
    while (mdb_fetch_row(table)) {
        if (++rows > fileSize) return refuse("damaged", "the row scan does not end");
        // The row's page is still in the buffer: crack it again for the raw bytes.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, static_cast<int>(table->cur_row) - 1, &start, &size) != 0)
            return refuse("damaged", "row lost while reading");
        const int cracked = mdb_crack_row(table, start & kOffsetMask, size, fields.data());
        if (cracked < 0) return refuse("damaged", "row unreadable");
        std::fill(byColumn.begin(), byColumn.end(), nullptr);
        for (unsigned f = 0; f < columns; ++f) {
            const int c = fields[f].colnum;
            if (c >= 0 && static_cast<unsigned>(c) < columns) byColumn[c] = &fields[f];
        }
        line = "R";
        appendCells(line, table, byColumn, cells);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    std::printf("END %ju\n", rows);
    std::fflush(stdout);
    mdb_free_tabledef(table);
    mdb_close(mdb);
    return 0;
}
