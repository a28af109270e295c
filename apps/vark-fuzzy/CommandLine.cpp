#include "CommandLine.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "BatchErrors.h"
#include "Suggestions.h"
#include "criterion/GradesFile.h"
#include "host/ogr/OgrApplication.h"
#include "support/Failure.h"

namespace vark::app {

Invocation SplitSubcommand(std::span<char* const> argv, std::span<const std::string_view> known) {
    Invocation invocation;
    // The options every subcommand takes may also come before its word
    // ("vark-fuzzy --lang fr compute ..."): they are handed to it first.
    std::vector<std::string> leading;
    std::size_t at = 1;
    while (at < argv.size()) {
        const std::string_view arg = argv[at];
        if (arg == "--lang" && at + 1 < argv.size()) {
            leading.emplace_back(arg);
            leading.emplace_back(argv[at + 1]);
            invocation.language = argv[at + 1];
            at += 2;
        } else if (arg == "--quiet" || arg == "--verbose") {
            leading.emplace_back(arg);
            ++at;
        } else {
            break;
        }
    }
    std::size_t first = at;
    if (at < argv.size()) {
        const std::string_view word = argv[at];
        for (std::string_view name : known) {
            // An option word only as the first, but --help after --lang too.
            const bool help = name == "--help" || name == "-h";
            if (word == name && (at == 1 || name[0] != '-' || help)) {
                invocation.subcommand = std::string(word);
                invocation.args = std::move(leading);
                first = at + 1;
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
    return Said(clitext::kUnknownSubcommand, "unknown subcommand %1; did you mean %2?",
                {std::string(word), JoinNames(near, Said(clitext::kOr, "or"))});
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
                throw UsageError(
                    Said(clitext::kLayerFirst, "--layer must follow the data set it applies to"));
            }
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                throw UsageError(Said(clitext::kLayerNeedsName, "--layer needs a layer name"));
            }
            if (layerGiven) {
                throw UsageError(Said(clitext::kLayerTwice, "only one --layer per data set: %1",
                                      {ogr::WithoutPassword(sources.back().path)}));
            }
            sources.back().layerName = args[++i];
            layerGiven = true;
        } else {
            throw UsageError(Said(clitext::kUnknownOption, "unknown option: %1", {arg}));
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
            throw UsageError(Said(clitext::kUnknownOption, "unknown option: %1", {arg}));
        }
        if (!option->repeatable && parsed.has(arg)) {
            throw UsageError(Said(clitext::kOptionTwice, "option given twice: %1", {arg}));
        }
        std::string value;
        if (option->takesValue) {
            if (i + 1 >= args.size()) {
                throw UsageError(Said(clitext::kNeedsValue, "%1 needs a value", {arg}));
            }
            value = args[++i];
        }
        parsed.options.emplace_back(arg, std::move(value));
    }
    return parsed;
}

namespace {

/// What is wrong with `entry`, in the interface language, where `where`
/// names it; "" when it is a graded entry.
std::string EntryProblemSaid(std::string_view entry, const std::string& where) {
    if (!GradedEntryProblem(entry)) {
        return {};
    }
    const QByteArray bytes(entry.data(), static_cast<int>(entry.size()));
    if (QString::fromUtf8(bytes).toUtf8() != bytes) {
        return Said(clitext::kNotUtf8Entry, "%1: the graded entry is not UTF-8 text", {where});
    }
    return Said(clitext::kNotAnEntry,
                "%1: \"%2\" is not a graded entry VALUE->GRADE (grade 0 to 6)",
                {where, std::string(entry)});
}

}  // namespace

void CheckGradedEntry(const std::string& entry, const std::string& where) {
    if (const std::string problem = EntryProblemSaid(entry, where); !problem.empty()) {
        throw UsageError(problem);
    }
}

std::vector<std::string> ParseGradesText(std::string_view content, const std::string& fileName) {
    try {
        return vark::ParseGradesText(content, fileName);
    } catch (const Failure& failure) {
        // The first line that is no entry, told in the interface language.
        constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            content.remove_prefix(kByteOrderMark.size());
        }
        for (std::size_t number = 1; !content.empty(); ++number) {
            const std::size_t end = content.find('\n');
            std::string_view line = content.substr(0, end);
            content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            const std::string problem =
                line.empty() ? std::string()
                             : EntryProblemSaid(line, fileName + ":" + std::to_string(number));
            if (!problem.empty()) {
                throw UsageError(problem);
            }
        }
        throw UsageError(failure.description());
    }
}

std::vector<std::string> ReadGradesFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.is_open() || in.bad() || std::filesystem::is_directory(path)) {
        throw UsageError(
            Said(clitext::kCannotReadGrades, "cannot read the grades file %1", {path}));
    }
    return ParseGradesText(content, path);
}

}  // namespace vark::app
