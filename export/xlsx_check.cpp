// Reading a finished workbook back: a zip archive whose parts are deflated XML.

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "export/forms.h"

namespace krv::exports {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::uint64_t le(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

bool readAt(std::FILE* f, std::uint64_t offset, unsigned char* buf, std::size_t size) {
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fread(buf, 1, size, f) == size;
}

struct Entry {
    std::string name;
    unsigned method = 0;
    std::uint64_t packed = 0, size = 0, offset = 0;
};

Status broken(const std::string& what) {
    return Status::failure(err::kPathFileAccess,
                           "cannot write: the spreadsheet came out incomplete (" + what + ")");
}

// The archive's directory, zip64 included.
Status readDirectory(std::FILE* f, std::vector<Entry>& entries) {
    if (fseeko(f, 0, SEEK_END) != 0) return broken("no size");
    const auto fileSize = static_cast<std::uint64_t>(ftello(f));
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, 65557);
    std::vector<unsigned char> tail(tailSize);
    if (!readAt(f, fileSize - tailSize, tail.data(), tail.size())) return broken("unreadable");
    std::size_t at = tail.size() < 22 ? std::string::npos : tail.size() - 22;
    while (at != std::string::npos && le(&tail[at], 4) != 0x06054b50)
        at = at ? at - 1 : std::string::npos;
    if (at == std::string::npos) return broken("no directory");
    std::uint64_t count = le(&tail[at + 10], 2), dirOffset = le(&tail[at + 16], 4);
    if ((count == 0xFFFF || dirOffset == 0xFFFFFFFF) && at >= 20 &&
        le(&tail[at - 20], 4) == 0x07064b50) {
        unsigned char z[56];
        if (!readAt(f, le(&tail[at - 20 + 8], 8), z, sizeof z) || le(z, 4) != 0x06064b50)
            return broken("no zip64 directory");
        count = le(z + 32, 8);
        dirOffset = le(z + 48, 8);
    }
    if (fseeko(f, static_cast<off_t>(dirOffset), SEEK_SET) != 0) return broken("directory");
    for (std::uint64_t i = 0; i < count; ++i) {
        unsigned char h[46];
        if (std::fread(h, 1, sizeof h, f) != sizeof h || le(h, 4) != 0x02014b50)
            return broken("directory entry");
        Entry e;
        e.method = static_cast<unsigned>(le(h + 10, 2));
        e.packed = le(h + 20, 4);
        e.size = le(h + 24, 4);
        e.offset = le(h + 42, 4);
        const std::size_t nameLen = le(h + 28, 2), extraLen = le(h + 30, 2),
                          commentLen = le(h + 32, 2);
        std::vector<unsigned char> rest(nameLen + extraLen + commentLen);
        if (std::fread(rest.data(), 1, rest.size(), f) != rest.size())
            return broken("directory entry");
        e.name.assign(reinterpret_cast<const char*>(rest.data()), nameLen);
        // Zip64: the 32-bit fields set to all ones are in an extra field, in this order.
        for (std::size_t x = nameLen; x + 4 <= nameLen + extraLen;) {
            const std::size_t id = le(&rest[x], 2), len = le(&rest[x + 2], 2);
            if (id == 1) {
                std::size_t p = x + 4;
                for (std::uint64_t* v : {&e.size, &e.packed, &e.offset})
                    if (*v == 0xFFFFFFFF && p + 8 <= x + 4 + len) {
                        *v = le(&rest[p], 8);
                        p += 8;
                    }
            }
            x += 4 + len;
        }
        entries.push_back(std::move(e));
    }
    return Status::success();
}

// Watches a part's text go by: where its first element starts and what it ends with,
// and for the sheet, where the rows begin and end.
class PartText {
  public:
    explicit PartText(bool sheet) : sheet_(sheet) {}
    void take(const char* data, std::size_t size) {
        if (head_.size() < kHead) head_.append(data, std::min(size, kHead - head_.size()));
        if (sheet_ && rowsStart_ == 0) {
            const auto at = head_.find("<sheetData>");
            if (at != std::string::npos) rowsStart_ = at + std::strlen("<sheetData>");
        }
        tail_.append(data, size);
        if (tail_.size() > 2 * kTail) tail_.erase(0, tail_.size() - kTail);
        total_ += size;
    }
    // Whether the text is one whole element (after the XML declaration).
    bool whole() const {
        auto start = head_.find('<');
        while (start != std::string::npos && start + 1 < head_.size() && head_[start + 1] == '?')
            start = head_.find('<', start + 1);
        if (start == std::string::npos) return false;
        const auto nameEnd = head_.find_first_of(" />\r\n\t", start + 1);
        if (nameEnd == std::string::npos) return false;
        const std::string close = "</" + head_.substr(start + 1, nameEnd - start - 1) + ">";
        const std::string_view t = text::trimEnd(tail_, " \r\n\t");
        if (t.empty()) return false;
        return (t.size() >= close.size() && t.substr(t.size() - close.size()) == close) ||
               (t.find('<') == start && t.ends_with("/>"));
    }
    // Bytes between <sheetData> and </sheetData>; -1 when either is missing.
    std::int64_t rowBytes() const {
        const auto end = tail_.rfind("</sheetData>");
        if (rowsStart_ == 0 || end == std::string::npos) return -1;
        const std::uint64_t endAt = total_ - tail_.size() + end;
        return endAt < rowsStart_ ? -1 : static_cast<std::int64_t>(endAt - rowsStart_);
    }

  private:
    static constexpr std::size_t kHead = 4096, kTail = 4096;
    bool sheet_;
    std::string head_, tail_;
    std::uint64_t total_ = 0, rowsStart_ = 0;
};

Status checkPart(std::FILE* f, const Entry& e, std::uint64_t sheetRowBytes) {
    unsigned char local[30];
    if (!readAt(f, e.offset, local, sizeof local) || le(local, 4) != 0x04034b50)
        return broken(e.name);
    if (fseeko(f, static_cast<off_t>(e.offset + 30 + le(local + 26, 2) + le(local + 28, 2)),
               SEEK_SET) != 0)
        return broken(e.name);
    const bool sheet = e.name == "xl/worksheets/sheet1.xml";
    const bool xml = e.name.ends_with(".xml") || e.name.ends_with(".rels");
    PartText text(sheet);
    z_stream z{};
    if (e.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) return broken("inflate");
    constexpr std::size_t kChunk = 1u << 18;
    std::vector<unsigned char> in(kChunk), out(kChunk);
    std::uint64_t left = e.packed, size = 0;
    int rc = Z_OK;
    while (left > 0 && rc != Z_STREAM_END) {
        const std::size_t n = std::fread(in.data(), 1, std::min<std::uint64_t>(kChunk, left), f);
        if (n == 0) break;
        left -= n;
        if (e.method != 8) {
            if (xml) text.take(reinterpret_cast<const char*>(in.data()), n);
            size += n;
            continue;
        }
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) break;
            const std::size_t got = out.size() - z.avail_out;
            if (xml) text.take(reinterpret_cast<const char*>(out.data()), got);
            size += got;
        } while (z.avail_out == 0 && rc != Z_STREAM_END);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
    }
    if (e.method == 8) inflateEnd(&z);
    if ((e.method == 8 && rc != Z_STREAM_END) || size != e.size) return broken(e.name);
    if (xml && !text.whole()) return broken(e.name);
    if (sheet && text.rowBytes() != static_cast<std::int64_t>(sheetRowBytes))
        return broken("rows missing from the sheet");
    return Status::success();
}

}  // namespace

Status checkWorkbook(const std::string& path, std::uint64_t sheetRowBytes) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return writeFailed();
    std::vector<Entry> entries;
    Status st = readDirectory(f.get(), entries);
    if (!st.ok()) return st;
    if (std::none_of(entries.begin(), entries.end(),
                     [](const Entry& e) { return e.name == "xl/worksheets/sheet1.xml"; }))
        return broken("no sheet");
    for (const Entry& e : entries) {
        st = checkPart(f.get(), e, sheetRowBytes);
        if (!st.ok()) return st;
    }
    return Status::success();
}

}  // namespace krv::exports
