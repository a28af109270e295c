#include "criterion/Recipe.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "criterion/CriterionComputation.h"
#include "criterion_file/AtomicFile.h"
#include "support/Failure.h"
#include "support/LibraryInfo.h"

namespace vark {

namespace {

constexpr const char* kFormat = "vark-fuzzy recipes";
constexpr int kFormatVersion = 1;
constexpr const char* kSource = "Recipe";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

/// Texts that are not valid UTF-8 (a layer's undeclared bytes) are kept as
/// hexadecimal, so that JSON carries them unchanged.
std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += kDigits[byte >> 4U];
        out += kDigits[byte & 0x0FU];
    }
    return out;
}

bool IsUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size())).toStdString() == text;
}

std::string NowUtc() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

QJsonObject ToObject(const Recipe& recipe) {
    QJsonArray entries;
    for (const RecipeEntry& entry : recipe.entries) {
        QJsonObject e{{"value", Q(entry.value)},
                      {"grade", entry.grade},
                      {"degree", entry.degree},
                      {"features", static_cast<double>(entry.features)}};
        if (entry.layerText) {
            if (IsUtf8(*entry.layerText)) {
                e.insert("layer_text", Q(*entry.layerText));
            } else {
                e.insert("layer_bytes", Q(Hex(*entry.layerText)));
            }
        }
        entries.append(e);
    }
    return QJsonObject{{"layer", Q(recipe.layer)},
                       {"source_field", Q(recipe.sourceField)},
                       {"field", Q(recipe.field)},
                       {"levels", recipe.levels},
                       {"entries", entries},
                       {"unlisted", static_cast<double>(recipe.unlisted)},
                       {"empty", static_cast<double>(recipe.empty)},
                       {"null", static_cast<double>(recipe.nulls)},
                       {"date_utc", Q(recipe.dateUtc)},
                       {"tool_version", Q(recipe.toolVersion)},
                       {"run_by", Q(recipe.runBy)}};
}

std::string ToText(const QJsonObject& object) {
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

/// Reads the parts of one document, each checked; the first fault throws.
class Reader {
public:
    explicit Reader(const std::string& source) : m_source(source) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw Failure(err::kInvalidFileFormat, "\"" + m_source + "\" is not a recipe file: " + what,
                      kSource);
    }

    std::string text(const QJsonObject& object, const char* key, bool required = true) const {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() && !required) {
            return {};
        }
        if (!value.isString()) {
            fail(std::string("\"") + key + "\" is not a text");
        }
        std::string out = value.toString().toStdString();
        if (out.size() > kMaxRecipeTextBytes) {
            fail(std::string("\"") + key + "\" is longer than " +
                 std::to_string(kMaxRecipeTextBytes) + " bytes");
        }
        return out;
    }

    std::int64_t count(const QJsonObject& object, const char* key, double max) const {
        const QJsonValue value = object.value(key);
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number < 0 || number > max || std::floor(number) != number) {
            fail(std::string("\"") + key + "\" is not a whole number from 0 to " +
                 std::to_string(static_cast<std::int64_t>(max)));
        }
        return static_cast<std::int64_t>(number);
    }

    std::string bytes(const std::string& hex) const {
        if (hex.size() % 2 != 0) {
            fail("\"layer_bytes\" is not hexadecimal");
        }
        std::string out;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            const auto digit = [&](char c) -> int {
                if (c >= '0' && c <= '9') return c - '0';
                if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                fail("\"layer_bytes\" is not hexadecimal");
            };
            out += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
        }
        return out;
    }

    Recipe recipe(const QJsonValue& value) const {
        if (!value.isObject()) {
            fail("a criterion is not an object");
        }
        const QJsonObject object = value.toObject();
        Recipe recipe;
        recipe.layer = text(object, "layer");
        recipe.sourceField = text(object, "source_field");
        recipe.field = text(object, "field");
        recipe.levels = static_cast<std::int32_t>(count(object, "levels", 7));
        if (recipe.levels != 3 && recipe.levels != 5 && recipe.levels != 7) {
            fail("\"levels\" is not 3, 5 or 7");
        }
        const QJsonValue entries = object.value("entries");
        if (!entries.isArray()) {
            fail("\"entries\" is not a list");
        }
        if (static_cast<std::size_t>(entries.toArray().size()) > kMaxGradedEntries) {
            fail("more than " + std::to_string(kMaxGradedEntries) + " entries");
        }
        constexpr double kMaxCount = 9007199254740992.0;  // 2^53: exact in JSON
        for (const QJsonValue& item : entries.toArray()) {
            if (!item.isObject()) {
                fail("an entry is not an object");
            }
            const QJsonObject e = item.toObject();
            RecipeEntry entry;
            entry.value = text(e, "value");
            entry.grade = static_cast<std::int32_t>(count(e, "grade", 6));
            const QJsonValue degree = e.value("degree");
            if (!degree.isDouble() || !(degree.toDouble() >= 0 && degree.toDouble() <= 1)) {
                fail("a \"degree\" is not a number from 0 to 1");
            }
            entry.degree = degree.toDouble();
            entry.features = count(e, "features", kMaxCount);
            if (e.contains("layer_bytes")) {
                entry.layerText = bytes(text(e, "layer_bytes"));
            } else if (e.contains("layer_text")) {
                entry.layerText = text(e, "layer_text");
            }
            recipe.entries.push_back(std::move(entry));
        }
        recipe.unlisted = count(object, "unlisted", kMaxCount);
        recipe.empty = count(object, "empty", kMaxCount);
        recipe.nulls = count(object, "null", kMaxCount);
        recipe.dateUtc = text(object, "date_utc");
        recipe.toolVersion = text(object, "tool_version");
        recipe.runBy = text(object, "run_by");
        return recipe;
    }

private:
    std::string m_source;
};

}  // namespace

Recipe MakeRecipe(const CriterionRequest& request, const CriterionResult& result,
                  const std::string& layerName, const std::string& runBy) {
    Recipe recipe;
    recipe.layer = layerName;
    recipe.sourceField = request.sourceField;
    recipe.field = result.fieldName;
    recipe.levels = static_cast<std::int32_t>(request.scale);
    for (std::size_t k = 0; k < request.gradedEntries.size(); ++k) {
        const GradedEntry& graded = request.gradedEntries[k];
        RecipeEntry entry;
        entry.value = graded.value;
        if (graded.layerText && *graded.layerText != graded.value) {
            entry.layerText = graded.layerText;
        }
        entry.grade = graded.grade;
        entry.degree =
            static_cast<double>(MembershipDegree(graded.grade, request.scale).value_or(0));
        entry.features = k < result.entryCounts.size() ? result.entryCounts[k] : 0;
        recipe.entries.push_back(std::move(entry));
    }
    recipe.unlisted = result.unlistedCount;
    recipe.empty = result.emptyCount;
    recipe.nulls = result.nullCount;
    recipe.dateUtc = NowUtc();
    const LibraryVersion version = GetLibraryVersion();
    recipe.toolVersion = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                         std::to_string(version.revision);
    recipe.runBy = runBy;
    return recipe;
}

std::string RecipeToJson(const Recipe& recipe) {
    return ToText(ToObject(recipe));
}

std::string RecipeBookToJson(const RecipeBook& book) {
    QJsonObject criteria;
    for (const auto& [name, recipe] : book) {
        criteria.insert(Q(name), ToObject(recipe));
    }
    return ToText(QJsonObject{
        {"format", kFormat}, {"format_version", kFormatVersion}, {"criteria", criteria}});
}

RecipeBook RecipeBookFromJson(std::string_view json, const std::string& source) {
    const Reader reader(source);
    if (json.size() > kMaxRecipeFileBytes) {
        reader.fail("it is larger than " + std::to_string(kMaxRecipeFileBytes) + " bytes");
    }
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<int>(json.size())), &error);
    if (error.error != QJsonParseError::NoError) {
        reader.fail("bad JSON at byte " + std::to_string(error.offset) + " (" +
                    error.errorString().toStdString() + ")");
    }
    if (!document.isObject() || document.object().value("format").toString() != kFormat) {
        reader.fail("it does not say it is one");
    }
    if (document.object().value("format_version").toInt(-1) != kFormatVersion) {
        reader.fail("its format version is not " + std::to_string(kFormatVersion));
    }
    const QJsonValue criteria = document.object().value("criteria");
    if (!criteria.isObject()) {
        reader.fail("\"criteria\" is not an object");
    }
    RecipeBook book;
    const QJsonObject object = criteria.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        Recipe recipe = reader.recipe(it.value());
        if (recipe.field != it.key().toStdString()) {
            reader.fail("the criterion \"" + it.key().toStdString() + "\" names another field");
        }
        book.emplace(recipe.field, std::move(recipe));
    }
    return book;
}

std::string RecipeFilePath(const std::string& fzyPath) {
    return fzyPath + ".json";
}

RecipeBook ReadRecipeFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return {};
    }
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size > kMaxRecipeFileBytes) {
        Reader(path).fail("it is larger than " + std::to_string(kMaxRecipeFileBytes) + " bytes");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Failure(err::kDeviceIoError, "Cannot open \"" + path + "\"", kSource);
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return RecipeBookFromJson(bytes, path);
}

void WriteRecipeFile(const std::string& path, const RecipeBook& book) {
    const std::string target = fzy::FollowLinks(path);
    if (book.empty()) {
        std::error_code error;
        std::filesystem::remove(target, error);
        if (error) {
            throw Failure(err::kDeviceIoError,
                          "Cannot remove \"" + target + "\": " + error.message(), kSource);
        }
        return;
    }
    fzy::ReplaceFileWhole(target, RecipeBookToJson(book));
}

namespace {

std::optional<std::string> ReadBytes(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

RecipeFileRun::RecipeFileRun(std::string path)
    : m_path(fzy::FollowLinks(path)), m_book(ReadRecipeFile(m_path)), m_before(ReadBytes(m_path)) {}

void RecipeFileRun::Put(Recipe recipe, const std::function<bool(const std::string&)>& fieldExists) {
    std::erase_if(m_book, [&](const auto& item) { return !fieldExists(item.first); });
    const std::string field = recipe.field;
    m_book.insert_or_assign(field, std::move(recipe));
    m_written = RecipeBookToJson(m_book);
    fzy::ReplaceFileWhole(m_path, m_written);
    m_put = true;
}

void RecipeFileRun::Restore() noexcept {
    if (!m_put) {
        return;
    }
    try {
        if (ReadBytes(m_path) != m_written) {
            return;  // someone wrote it since: theirs to keep
        }
        if (m_before) {
            fzy::ReplaceFileWhole(m_path, *m_before);
        } else {
            std::filesystem::remove(m_path);
        }
        m_put = false;
    } catch (...) {
        // A recipe of a field that is not there goes with the next run.
    }
}

std::vector<std::string> RecipeGradesLines(const Recipe& recipe) {
    std::vector<std::string> lines;
    for (const RecipeEntry& entry : recipe.entries) {
        lines.push_back(entry.value + "->" + std::to_string(entry.grade));
    }
    return lines;
}

std::string RecipeSummary(const Recipe& recipe) {
    constexpr std::size_t kLongest = 1000;
    std::string entries;
    for (const std::string& line : RecipeGradesLines(recipe)) {
        if (entries.size() + line.size() > kLongest) {
            entries += entries.empty() ? "…" : ", …";
            break;
        }
        entries += (entries.empty() ? "" : ", ") + line;
    }
    return "Fuzzy criterion of " + recipe.sourceField + " (" + std::to_string(recipe.levels) +
           " levels): " + entries + " [vark-fuzzy " + recipe.toolVersion + ", " + recipe.dateUtc +
           "]";
}

}  // namespace vark
