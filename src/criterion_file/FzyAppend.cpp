// Writing a criterion file: a kind-2 record appended, or a field's records
// replaced by its new one, each in one replacement of the whole file; and
// the check, writing nothing, that an append would succeed.

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "criterion_file/AtomicFile.h"
#include "criterion_file/CriterionFile.h"
#include "criterion_file/FzyFormat.h"
#include "criterion_file/FzyModule.h"
#include "support/Cp1252.h"

namespace vark::fzy {

Kind2Record MakeKind2(const std::string& fieldName, const std::string& alias, std::int16_t code,
                      double Val_a, double Val_b, double Val_c, double Val_d,
                      const std::string& workspacePath, const std::string& layerName) {
    return Kind2Record{fieldName, code,  alias,         Val_a,    Val_b,
                       Val_c,     Val_d, workspacePath, layerName};
}

CriterionFile::PreparedAppend CriterionFile::PrepareAppend(const Kind2Record& record) const {
    RequireWritable();
    PreparedAppend p;
    p.file = Load();
    if (!p.file.layout.sound()) {
        ThrowDamaged(p.file.layout.damage);
    }
    p.record = EncodeKind2(record);
    const std::size_t nextPosition = p.file.bytes.size() + p.record.size() + 1;
    if (nextPosition > static_cast<std::size_t>(kMaxPosition) ||
        p.file.layout.Kind2Count == INT16_MAX) {
        throw Failure(err::kOverflow,
                      "Overflow: the record of field \"" + record.fieldName + "\" (" +
                          std::to_string(p.record.size()) +
                          " bytes) would take the criterion file \"" + m_state.path +
                          "\" past position " + std::to_string(kMaxPosition) +
                          "; nothing was written",
                      "fzy_io");
    }
    return p;
}

std::int16_t CriterionFile::AppendKind2(Kind2Record record, const std::string* replaced) {
    record.created = OleDateNow();
    PreparedAppend p = PrepareAppend(record);
    std::string bytes = std::move(p.file.bytes);
    std::int16_t deleted = p.file.layout.DeletedCount;
    std::int16_t marked = 0;
    if (replaced) {
        const std::string stored = EncodeCp1252(*replaced);
        for (const RecordFrame& frame : p.file.layout.records) {
            if (frame.kind >= kFirstDeletedKind || RecordFieldName(bytes, frame) != stored) {
                continue;
            }
            PutInt16(bytes, frame.offset + 2,
                     static_cast<std::int16_t>(frame.kind + kDeletedKindOffset));
            // The count only has to stay above 0, so it stops at its maximum.
            if (deleted < INT16_MAX) {
                ++deleted;
            }
            ++marked;
        }
    }
    const auto kind2Count = static_cast<std::int16_t>(p.file.layout.Kind2Count + 1);
    bytes += p.record;
    PutInt16(bytes, kKind2CountOffset, kind2Count);
    PutInt16(bytes, kDeletedCountOffset, deleted);
    Replace(bytes);
    m_state.Kind1Count = p.file.layout.Kind1Count;
    m_state.Kind2Count = kind2Count;
    m_state.DeletedCount = deleted;
    return marked;
}

std::int16_t CriterionFile::AddRecord(const Kind2Record& record) {
    AppendKind2(record, nullptr);
    return 1;
}

std::int16_t CriterionFile::ReplaceKind2(const Kind2Record& record) {
    return AppendKind2(record, &record.fieldName);
}

void CriterionFile::CheckAppend(const std::string& fieldName, const std::string& alias,
                                const std::string& workspacePath,
                                const std::string& layerName) const {
    // The code, the values and the date have a fixed size: they do not
    // change whether the record fits.
    const Kind2Record record = MakeKind2(fieldName, alias, 0, 0, 0, 0, 0, workspacePath, layerName);
    const PreparedAppend p = PrepareAppend(record);
    if (m_store) {
        return;  // no file, no folder: the server checks its own room
    }
    const std::string target = FollowLinks(m_state.path);
    const std::string folder = FolderOf(target);
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) == 0 && vfs.f_frsize > 0) {
        const std::size_t size = p.file.bytes.size() + p.record.size();
        const auto needed = static_cast<fsblkcnt_t>((size + vfs.f_frsize - 1) / vfs.f_frsize);
        const fsblkcnt_t free = ::geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail;
        if (free < needed) {
            throw SystemFailure("Cannot write the criterion file", m_state.path, ENOSPC);
        }
    }
}

}  // namespace vark::fzy
