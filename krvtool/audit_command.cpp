// krvtool audit: the audit trail of a results database, for a person or a spreadsheet.

#include <QCommandLineParser>
#include <QRegularExpression>
#include <ostream>

#include "audit/audit.h"
#include "krvtool/tool.h"
#include "report/text.h"
#include "results_db/store.h"

namespace krv::tool {

namespace {

const std::vector<std::string>& columnNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const auto& f : audit::auditFields()) n.push_back(f.name);
        return n;
    }();
    return names;
}

const std::string* textOf(const db::Value& v) { return std::get_if<std::string>(&v); }

// Quoted, so blanks that pad a stored text stay visible; a null says so.
std::string shown(const db::Value& v) {
    const std::string* s = textOf(v);
    return s ? "\"" + *s + "\"" : std::string("null");
}

void printCsv(std::ostream& out, const std::vector<audit::Entry>& entries) {
    const auto& names = columnNames();
    for (std::size_t i = 0; i < names.size(); ++i) out << (i ? "," : "") << names[i];
    out << "\n";
    for (const audit::Entry& e : entries) {
        const std::string* oldValue = textOf(e.oldValue);
        const std::string* newValue = textOf(e.newValue);
        const std::string fields[] = {e.time,
                                      e.user,
                                      e.host,
                                      e.operation,
                                      e.recordNumber,
                                      e.recordId,
                                      e.column,
                                      oldValue ? *oldValue : std::string(),
                                      newValue ? *newValue : std::string(),
                                      e.note};
        for (std::size_t i = 0; i < std::size(fields); ++i)
            out << (i ? "," : "") << text::csvField(fields[i]);
        out << "\n";
    }
}

// One line an entry: when, who, what, on which record, from what to what, why.
void printLines(std::ostream& out, const std::vector<audit::Entry>& entries) {
    for (const audit::Entry& e : entries) {
        out << e.time << "  " << e.user << "@" << e.host << "  " << e.operation;
        if (!e.recordNumber.empty()) out << "  record " << e.recordNumber;
        if (!e.recordId.empty()) out << " (identity " << e.recordId << ")";
        if (!e.column.empty()) {
            out << "  " << e.column;
            if (textOf(e.oldValue) || textOf(e.newValue))
                out << ": " << shown(e.oldValue) << " -> " << shown(e.newValue);
        } else if (const std::string* record = textOf(e.oldValue);
                   record && e.operation == audit::kDelete) {
            out << "  " << *record;
        }
        if (!e.note.empty()) out << "  " << e.note;
        out << "\n";
    }
}

int runAudit(const QStringList& args, Io& io) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints the audit trail of a results database: who changed which stored record, "
        "when (UTC), and from what to what."));
    const QCommandLineOption since(
        QStringLiteral("since"),
        QStringLiteral("Only entries at or after DATE, UTC: 2026-12-01 or 2026-12-01T08:30."),
        QStringLiteral("DATE"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Comma-separated values with a header line."));
    parser.addOptions({since, csv});
    parser.addPositionalArgument(QStringLiteral("DB"), QStringLiteral("The results database."));
    if (const auto done = parseOptions(parser, QStringLiteral("audit"), args, io, 1, 1))
        return *done;

    // Entries are compared as text, so the date must be written the way they are.
    QString from = parser.value(since);
    static const QRegularExpression dateForm(
        QStringLiteral(R"(^\d{4}-\d\d-\d\d([T ]\d\d(:\d\d(:\d\d)?)?Z?)?$)"));
    if (!from.isEmpty() && !dateForm.match(from).hasMatch())
        return fail(io, "audit",
                    "--since takes a date as 2026-12-01 or a time as 2026-12-01T08:30, not '" +
                        from.toStdString() + "'",
                    kUsage);
    from.replace(QLatin1Char(' '), QLatin1Char('T'));
    if (from.endsWith(QLatin1Char('Z'))) from.chop(1);

    const std::string path = parser.positionalArguments().first().toStdString();
    Status st;
    const auto database = db::makeEngine()->openDatabase(path, st);
    if (!database) return fail(io, path, st.description);
    std::vector<audit::Entry> entries;
    st = audit::readEntries(*database, from.toStdString(), entries);
    if (!st.ok()) return fail(io, path, st.description);
    if (parser.isSet(csv)) {
        printCsv(io.out, entries);
    } else {
        printLines(io.out, entries);
    }
    return kDone;
}

}  // namespace

Subcommand auditCommand() {
    return {"audit", "print who changed which stored record, when, from what to what", runAudit};
}

}  // namespace krv::tool
