// Times the dBASE table rewriter alone on a shapefile: the table checked,
// the graded values encoded, the new table written with every record's
// degree and flushed, then (with --commit) renamed over the old one.
//
//   dbf_rewrite_bench [--commit] [--encoding=ENC] <layer.shp|layer.dbf> <grades file> [field]
//
// --encoding gives the table's encoding as the adapter, which has the layer
// open, would; without it the rewriter asks GDAL (one more open).
//
// The grades file holds one "value->grade" line per graded value, as
// make_bench_layers writes it; the degrees are the 7-level ones. The source
// field is NATURE unless named. Without --commit the new table is removed
// and the layer stays as it was, so that runs can be repeated.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "routes/shape/DbfRewrite.h"
#include "support/Failure.h"

namespace {

constexpr float kSeven[7] = {0.0F, 0.17F, 0.34F, 0.5F, 0.67F, 0.83F, 1.0F};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool commit = !args.empty() && args[0] == "--commit";
    if (commit) {
        args.erase(args.begin());
    }
    std::optional<std::string> encoding;
    if (!args.empty() && args[0].rfind("--encoding=", 0) == 0) {
        encoding = args[0].substr(11);
        args.erase(args.begin());
    }
    if (args.size() < 2 || args.size() > 3) {
        std::fputs(
            "usage: dbf_rewrite_bench [--commit] [--encoding=ENC] LAYER.shp|LAYER.dbf GRADES "
            "[FIELD]\n",
            stderr);
        return 2;
    }
    const std::string dbf = std::filesystem::path(args[0]).replace_extension(".dbf").string();
    const std::string field = args.size() == 3 ? args[2] : "NATURE";
    std::vector<std::pair<std::string, double>> grades;
    std::ifstream in(args[1]);
    for (std::string line; std::getline(in, line);) {
        if (line.size() >= 3 && line[line.size() - 3] == '-' && line[line.size() - 2] == '>' &&
            line.back() >= '0' && line.back() <= '6') {
            grades.emplace_back(line.substr(0, line.size() - 3), kSeven[line.back() - '0']);
        }
    }

    try {
        const auto start = std::chrono::steady_clock::now();
        vark::routes::DbfRewrite rewrite(dbf, encoding);
        std::vector<std::pair<std::string, double>> encoded;
        for (const auto& [value, degree] : grades) {
            if (auto bytes = rewrite.encode(value)) {
                encoded.emplace_back(std::move(*bytes), degree);
            }
        }
        const int source = rewrite.fieldIndex(field);
        const double opened = Seconds(start);
        std::int64_t matched = 0;
        const auto result =
            rewrite.prepare("FZY_BENCH", source, [&](std::string_view text) -> double {
                for (const auto& [value, degree] : encoded) {
                    if (value == text) {
                        ++matched;
                        return degree;
                    }
                }
                return 0.0;
            });
        const double prepared = Seconds(start);
        if (commit) {
            rewrite.commit();
        } else {
            rewrite.abandon();
        }
        const double total = Seconds(start);
        std::printf(
            "records %lld (deleted %lld, matched %lld), encoding '%s': open %.3f s, prepare "
            "%.3f s, %s %.3f s, total %.3f s\n",
            static_cast<long long>(result.records), static_cast<long long>(result.deleted),
            static_cast<long long>(matched), rewrite.encoding().c_str(), opened, prepared - opened,
            commit ? "commit" : "abandon", total - prepared, total);
    } catch (const vark::Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.description().c_str());
        return 1;
    }
    return 0;
}
