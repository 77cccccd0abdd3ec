// Report reading speed: a full model in memory, and a report far larger than any real
// one read from disk through the parser's fixed buffer.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "report/parser.h"
#include "report/tests/report_builder.h"

namespace {

using namespace krv::testing;

// 100 isotopes of 25 rows each, after a full header.
std::string maximalReport() {
    Lines l{"ID: SOIL CORE B-17 DEPTH 0-5 CM",
            "File: S0421.CNF",
            "Date: 5/14/02  09:31:05",
            cols({{1, "LT:     3600.0 sec"}, {30, "DT:   3.2%"}}),
            "Activities reported as of Measurement Date",
            ""};
    for (int i = 1; i <= krv::kMaxIsotopes; ++i) {
        Lines rows;
        for (int j = 1; j <= krv::kMaxLinesPerIsotope; ++j) {
            const std::string e = std::to_string(100 + i * 25 + j) + ".25";
            rows.push_back(row(e, "12,874", "11,902", "4.567E+01"));
        }
        append(l, block("I" + std::to_string(i), rows));
    }
    return join(l);
}

void BM_MaximalReportInMemory(benchmark::State& state) {
    const std::string text = maximalReport();
    krv::AnalysisReport report;
    for (auto _ : state) {
        report.beginRead();
        krv::parseReportText(text, report);
        benchmark::DoNotOptimize(report.isotopeCount);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_MaximalReportInMemory);

void BM_LargeReportFromFile(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / "krv_parser_bench.txt";
    const std::string unit = maximalReport();
    std::size_t size = 0;
    {
        std::ofstream out(path, std::ios::binary);
        while (size < 50u * 1024 * 1024) {
            out << unit;
            size += unit.size();
        }
    }
    krv::AnalysisReport report;
    for (auto _ : state) {
        report.beginRead();
        krv::parseReportFile(path.string(), report);
        benchmark::DoNotOptimize(report.isotopeCount);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    std::filesystem::remove(path);
}
BENCHMARK(BM_LargeReportFromFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
