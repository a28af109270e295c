#include "criterion/GradesFile.h"

#include <QTextCodec>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "criterion_file/AtomicFile.h"
#include "support/Failure.h"

namespace vark {

namespace {

bool IsUtf8(std::string_view text) {
    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    codec->toUnicode(text.data(), static_cast<int>(text.size()), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

}  // namespace

std::optional<std::string> GradedEntryProblem(std::string_view entry) {
    if (!IsUtf8(entry)) {
        return std::string("the graded entry is not UTF-8 text");
    }
    const bool wellFormed = entry.size() >= 3 && entry.substr(entry.size() - 3, 2) == "->" &&
                            entry.back() >= '0' && entry.back() <= '6';
    if (!wellFormed) {
        return "\"" + std::string(entry) + "\" is not a graded entry VALUE->GRADE (grade 0 to 6)";
    }
    return std::nullopt;
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
        if (const auto problem = GradedEntryProblem(line)) {
            throw Failure(err::kTypeMismatch,
                          fileName + ":" + std::to_string(lineNumber) + ": " + *problem,
                          "GradesFile");
        }
        entries.emplace_back(line);
    }
    return entries;
}

std::vector<std::string> ReadGradesFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const bool missing = errno == ENOENT;
        throw Failure(missing ? err::kFileNotFound : err::kDeviceIoError,
                      "cannot read the grades file " + path, "GradesFile");
    }
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw Failure(err::kDeviceIoError, "cannot read the grades file " + path, "GradesFile");
    }
    return ParseGradesText(content, path);
}

std::string GradesText(const std::vector<std::string>& entries) {
    std::string text;
    for (const auto& entry : entries) {
        text += entry;
        text += '\n';
    }
    return text;
}

void WriteGradesFile(const std::string& path, const std::vector<std::string>& entries) {
    fzy::ReplaceFileWhole(fzy::FollowLinks(path), GradesText(entries));
}

}  // namespace vark
