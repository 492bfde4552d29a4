#pragma once

// The rows the project's benchmark programs print, in one format, so that `./run bench`
// shows a single table:
//
//     std::vector<BenchRow> rows;
//     rows.push_back({"AddTab, 1k events", 8.9, "us", "", true});
//     PrintBenchTable(rows, !HasFlag(argc, argv, "--no-header"));

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

struct BenchRow {
    std::string name;
    double value;
    std::string unit;
    std::string target;  // empty: informational
    bool pass = true;
};

inline void PrintBenchHeader() {
    std::printf("%-58s %14s  %-8s %-9s %s\n", "measurement", "value", "unit", "target", "verdict");
    std::printf("%s\n", std::string(100, '-').c_str());
}

inline void PrintBenchTable(const std::vector<BenchRow>& rows, bool header) {
    if (header) PrintBenchHeader();
    for (const BenchRow& row : rows) {
        std::printf("%-58s %14.3f  %-8s %-9s %s\n", row.name.c_str(), row.value, row.unit.c_str(),
                    row.target.empty() ? "-" : row.target.c_str(),
                    row.target.empty() ? "-" : (row.pass ? "pass" : "FAIL"));
    }
    std::fflush(stdout);
}

inline bool AllPass(const std::vector<BenchRow>& rows) {
    return std::all_of(rows.begin(), rows.end(), [](const BenchRow& r) { return r.pass; });
}

inline bool HasFlag(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0) return true;
    }
    return false;
}

// The nearest-rank percentile of sorted, non-empty `values`: the smallest value that at
// least `fraction` of them do not exceed.
template <typename T>
T Percentile(const std::vector<T>& sorted, double fraction) {
    const auto rank =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}
