// What the description window shows of a record: the kind-1 and kind-2
// texts, and the search of the open file for the record of a field.

#include "criterion_file/FzyDescription.h"

#include <filesystem>

#include "criterion_file/CriterionFile.h"
#include "criterion_file/FzyFormat.h"
#include "criterion_file/FzyModule.h"
#include "support/Cp1252.h"
#include "text_store/clsResourceMDB.h"

namespace vark {

using namespace fzy;

namespace {

std::string TextOf(int number) {
    return gTextStore().ResourceString(number);
}

/// Dates in a description: unambiguous for the reader of the interface
/// language (see FormatOleDateFor).
std::string DescriptionDate(double oleDate) {
    std::string language;
    try {
        language = gTextStore().LanguageCode();
    } catch (...) {
    }
    return FormatOleDateFor(oleDate, language);
}

std::string Separator() {
    return std::string(1, static_cast<char>(std::filesystem::path::preferred_separator));
}

/// fzy_io_numberinfo and fzy_io_recordinfo: the record's description into
/// the description target, failures reported as `procedure`'s.
bool DescribeIntoTarget(int kind, const std::string& fieldName, const char* procedure) {
    int marker = 1;
    try {
        const std::optional<std::string> text =
            Module().file.DescribeRecord(kind, fieldName, marker);
        if (!text) {
            return false;
        }
        const auto target = Module().target;
        target->SetInfoText(*text);
        return true;
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), procedure, marker);
        return false;
    }
}

}  // namespace

std::string DescribeKind2(const Kind2Record& r, const std::function<std::string(int)>& text) {
    static constexpr const char* kCrLf = "\r\n";
    std::string s;
    s += text(147) + " " + r.fieldName + "(" + text(148) + " :" + r.alias + ") ";
    s += text(154) + " " + std::to_string(r.code) + " " + text(154) + " :" + kCrLf;
    s += " Val_a = " + FormatNumber(r.Val_a) + kCrLf;
    s += " Val_b = " + FormatNumber(r.Val_b) + kCrLf;
    s += " Val_c = " + FormatNumber(r.Val_c) + kCrLf;
    s += " Val_d = " + FormatNumber(r.Val_d) + kCrLf;
    s += text(152) + " " + r.workspacePath + Separator() + r.layerName + " " + text(156) + " " +
         DescriptionDate(r.created);
    return s;
}

std::string DescribeKind1(const Kind1Record& r, const std::function<std::string(int)>& text) {
    static constexpr const char* kCrLf = "\r\n";
    const std::string sep = Separator();
    std::string s;
    s += text(147) + " " + r.fieldName + " (" + text(148) + " :" + r.T[0] + ") " + text(149) +
         " : " + kCrLf;
    s += r.T[3] + " (" + text(150) + " " + r.T[4] + sep + r.T[5] + ")" + kCrLf;
    s += text(151) + " " + kCrLf;
    s += r.T[6] + " (" + text(150) + " " + r.T[7] + sep + r.T[8] + ")." + kCrLf;
    s += " " + text(152) + " " + std::to_string(r.N) + " " + text(156) + " " +
         DescriptionDate(r.date);
    return s;
}

namespace fzy {

std::optional<std::string> CriterionFile::DescribeRecord(int kind, const std::string& fieldName,
                                                         int& marker) const {
    marker = 1;
    const LoadedFile f = Load();
    if (!f.layout.readable()) {
        ThrowDamaged(f.layout.damage);
    }
    for (const RecordFrame& frame : f.layout.records) {
        marker = 2;
        if (frame.kind != kind) {
            continue;
        }
        const std::string name = DecodeCp1252(RecordFieldName(f.bytes, frame));
        marker = 3;
        if (name == fieldName) {
            marker = 4;
            std::string text;
            if (kind == 2) {
                const Kind2Record record = DecodeKind2(f.bytes, frame);
                marker = 5;
                text = DescribeKind2(record, TextOf);
            } else {
                const Kind1Record record = DecodeKind1(f.bytes, frame);
                marker = 5;
                text = DescribeKind1(record, TextOf);
            }
            marker = 6;
            return text;
        }
    }
    // Where each reader ends its search.
    marker = kind == 2 ? 9 : 7;
    return std::nullopt;
}

}  // namespace fzy

bool fzy_io_numberinfo(const std::string& fieldName) {
    return DescribeIntoTarget(2, fieldName, "fzy_io_numberinfo");
}

bool fzy_io_recordinfo(const std::string& fieldName, const std::string& /*unused*/) {
    if (fieldName.empty()) {
        return false;
    }
    return DescribeIntoTarget(1, fieldName, "fzy_io_recordinfo");
}

void fzy_io_showinfo() {
    const auto target = Module().target;
    target->Show();
}

FieldDescription DescribeCriterionField(const std::string& workspacePath,
                                        const std::string& layerName,
                                        const std::string& fieldName) noexcept {
    FieldDescription description;
    try {
        // A file of its own: describing leaves the module's open file alone.
        CriterionFile file;
        description.marker = 1;
        std::string path = workspacePath;
        std::string name = CriterionFileLayerName(layerName);
        // Describing reads: a layer without a criterion file has no
        // description, and gets no empty file for asking.
        if (!fzy_io_exists(path, name)) {
            description.status = FieldDescription::Status::kNoFile;
            return description;
        }
        file.Open(path, name);
        description.marker = 2;
        if (const std::string damage = file.ReadDamage(); !damage.empty()) {
            description.status = FieldDescription::Status::kDamaged;
            description.failure = Failure(kDamagedFileError, damage, "fzy_io");
        } else {
            int marker = 1;
            description.marker = 3;
            std::optional<std::string> text = file.DescribeRecord(2, fieldName, marker);
            // A kind-1 record of the same name is what the window ends with.
            description.marker = 4;
            if (!fieldName.empty()) {
                if (auto other = file.DescribeRecord(1, fieldName, marker)) {
                    text = std::move(other);
                }
            }
            description.marker = 5;
            description.status =
                text ? FieldDescription::Status::kFound : FieldDescription::Status::kNoRecord;
            description.text = text.value_or(std::string());
        }
    } catch (...) {
        description.status = FieldDescription::Status::kFailed;
        description.failure = CurrentFailure();
    }
    return description;
}

}  // namespace vark
