#include "CommandLine.h"

namespace vark::app {

Invocation SplitSubcommand(std::span<char* const> argv, std::span<const std::string_view> known) {
    Invocation invocation;
    std::size_t first = 1;
    if (argv.size() > 1) {
        const std::string_view word = argv[1];
        for (std::string_view name : known) {
            if (word == name) {
                invocation.subcommand = std::string(word);
                first = 2;
                break;
            }
        }
    }
    for (std::size_t i = first; i < argv.size(); ++i) {
        invocation.args.emplace_back(argv[i]);
    }
    return invocation;
}

std::vector<ogr::DataSourceSpec> ParseDataSources(const std::vector<std::string>& args) {
    std::vector<ogr::DataSourceSpec> specs;
    bool layerGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            specs.push_back({arg, {}});
            layerGiven = false;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--layer") {
            if (specs.empty()) {
                throw UsageError("--layer must follow the data set it applies to");
            }
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                throw UsageError("--layer needs a layer name");
            }
            if (layerGiven) {
                throw UsageError("only one --layer per data set: " + specs.back().path);
            }
            specs.back().layerName = args[++i];
            layerGiven = true;
        } else {
            throw UsageError("unknown option: " + arg);
        }
    }
    return specs;
}

}  // namespace vark::app
