#include "CommandLine.h"

#include <QTextCodec>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Suggestions.h"

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
                throw UsageError("only one --layer per data set: " + sources.back().path);
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

namespace {

bool IsUtf8(std::string_view text) {
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    codec->toUnicode(text.data(), static_cast<int>(text.size()), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

}  // namespace

void CheckGradedEntry(const std::string& entry, const std::string& where) {
    if (!IsUtf8(entry)) {
        throw UsageError(where + ": the graded entry is not UTF-8 text");
    }
    const bool wellFormed = entry.size() >= 3 && entry.compare(entry.size() - 3, 2, "->") == 0 &&
                            entry.back() >= '0' && entry.back() <= '6';
    if (!wellFormed) {
        throw UsageError(where + ": \"" + entry +
                         "\" is not a graded entry VALUE->GRADE (grade 0 to 6)");
    }
}

std::vector<std::string> ParseGradesText(std::string_view content, const std::string& fileName) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        content.remove_prefix(kByteOrderMark.size());
    }
    std::vector<std::string> entries;
    std::size_t lineNumber = 0;
    while (!content.empty()) {
        ++lineNumber;
        const std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        std::string entry(line);
        CheckGradedEntry(entry, fileName + ":" + std::to_string(lineNumber));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<std::string> ReadGradesFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw UsageError("cannot read the grades file " + path);
    }
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw UsageError("cannot read the grades file " + path);
    }
    return ParseGradesText(content, path);
}

}  // namespace vark::app
