#include "CommandLine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Suggestions.h"
#include "dialog/GradesFile.h"
#include "host/ogr/OgrApplication.h"
#include "support/Failure.h"

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

std::string MistypedSubcommand(std::string_view word, std::span<const std::string_view> known) {
    if (word.empty() || word[0] == '-' || word.find_first_of("/\\:") != std::string_view::npos) {
        return {};
    }
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(word), error) || error) {
        return {};
    }
    std::vector<std::string> names;
    for (std::string_view name : known) {
        if (!name.empty() && name[0] != '-') {
            names.emplace_back(name);
        }
    }
    const std::vector<std::string> near = NearestNames(word, names);
    if (near.empty()) {
        return {};
    }
    return "unknown subcommand " + std::string(word) + "; did you mean " + JoinNames(near, "or") +
           "?";
}

std::vector<ogr::DataSourceSpec> ParseDataSources(const std::vector<std::string>& args) {
    std::vector<ogr::DataSourceSpec> sources;
    bool layerGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            sources.push_back({arg, {}});
            layerGiven = false;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--layer") {
            if (sources.empty()) {
                throw UsageError("--layer must follow the data set it applies to");
            }
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                throw UsageError("--layer needs a layer name");
            }
            if (layerGiven) {
                throw UsageError("only one --layer per data set: " +
                                 ogr::WithoutPassword(sources.back().path));
            }
            sources.back().layerName = args[++i];
            layerGiven = true;
        } else {
            throw UsageError("unknown option: " + arg);
        }
    }
    return sources;
}

bool ParsedArgs::has(std::string_view name) const {
    return std::any_of(options.begin(), options.end(),
                       [name](const auto& option) { return option.first == name; });
}

std::optional<std::string> ParsedArgs::value(std::string_view name) const {
    std::optional<std::string> found;
    for (const auto& [option, value] : options) {
        if (option == name) {
            found = value;
        }
    }
    return found;
}

ParsedArgs ParseOptions(const std::vector<std::string>& args, std::span<const OptionSpec> options) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            parsed.positionals.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const auto option = std::find_if(options.begin(), options.end(),
                                         [&arg](const OptionSpec& s) { return s.name == arg; });
        if (option == options.end()) {
            throw UsageError("unknown option: " + arg);
        }
        if (!option->repeatable && parsed.has(arg)) {
            throw UsageError("option given twice: " + arg);
        }
        std::string value;
        if (option->takesValue) {
            if (i + 1 >= args.size()) {
                throw UsageError(arg + " needs a value");
            }
            value = args[++i];
        }
        parsed.options.emplace_back(arg, std::move(value));
    }
    return parsed;
}

void CheckGradedEntry(const std::string& entry, const std::string& where) {
    if (const auto problem = GradedEntryProblem(entry)) {
        throw UsageError(where + ": " + *problem);
    }
}

std::vector<std::string> ParseGradesText(std::string_view content, const std::string& fileName) {
    try {
        return vark::ParseGradesText(content, fileName);
    } catch (const Failure& failure) {
        throw UsageError(failure.description());
    }
}

std::vector<std::string> ReadGradesFile(const std::string& path) {
    try {
        return vark::ReadGradesFile(path);
    } catch (const Failure& failure) {
        throw UsageError(failure.description());
    }
}

}  // namespace vark::app
