#include "criterion_file/FzyRepair.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "criterion_file/AtomicFile.h"
#include "criterion_file/FzyLayout.h"
#include "criterion_file/FzyModule.h"
#include "support/Failure.h"

namespace vark {

using namespace fzy;

namespace {

constexpr std::int32_t kFileAlreadyExists = 58;

std::string ReadWhole(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            throw Failure(err::kFileNotFound, "File not found: \"" + path + "\"", "fzy_repair");
        }
        throw SystemFailure("Cannot examine the criterion file", path, errno);
    }
    if (!S_ISREG(st.st_mode)) {
        throw Failure(err::kBadFileNameOrNumber,
                      "Bad file name: \"" + path + "\" is not a regular file", "fzy_repair");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw SystemFailure("Cannot open the criterion file", path, errno != 0 ? errno : EIO);
    }
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw SystemFailure("Cannot read the criterion file", path, EIO);
    }
    return bytes;
}

}  // namespace

FzyRepairResult RepairCriterionFile(const std::string& path) {
    const std::string target = FollowLinks(path);
    const std::string bytes = ReadWhole(target);
    FzyRepairResult result;
    if (bytes.size() <= kHeaderSize) {
        return result;  // holds no record: read as new, written whole by the next append
    }
    const std::string_view walked = std::string_view(bytes).substr(0, kMaxFileBytes);
    const FzyLayout layout = ReadFzyLayout(walked);
    result.countedRecords = static_cast<std::size_t>(std::max<std::int16_t>(layout.Kind1Count, 0)) +
                            static_cast<std::size_t>(std::max<std::int16_t>(layout.Kind2Count, 0));
    result.keptRecords = layout.records.size();
    if (layout.sound() && bytes.size() <= kMaxFileBytes) {
        return result;
    }
    result.damage = layout.sound() ? "it is " + std::to_string(bytes.size()) +
                                         " bytes long, more than a criterion file can hold"
                                   : layout.damage;

    std::string repaired(walked.substr(0, kHeaderSize));
    std::int16_t kind1 = 0;
    std::int16_t others = 0;
    std::int16_t deleted = 0;
    for (const RecordFrame& frame : layout.records) {
        repaired.append(walked.substr(frame.offset, static_cast<std::size_t>(frame.length)));
        if (frame.kind == 1 || frame.kind == 1 + kDeletedKindOffset) {
            ++kind1;
        } else {
            ++others;
        }
        if (frame.kind >= kFirstDeletedKind) {
            ++deleted;
        }
    }
    PutInt16(repaired, kKind1CountOffset, kind1);
    PutInt16(repaired, kKind2CountOffset, others);
    PutInt16(repaired, kDeletedCountOffset, deleted);

    result.damagedCopy = target + ".damaged";
    struct stat st {};
    if (::lstat(result.damagedCopy.c_str(), &st) == 0) {
        throw Failure(kFileAlreadyExists,
                      "File already exists: \"" + result.damagedCopy +
                          "\" holds the copy of an earlier repair; move it away first. \"" +
                          target + "\" was left unchanged",
                      "fzy_repair");
    }
    ReplaceFileWhole(result.damagedCopy, bytes);
    ReplaceFileWhole(target, repaired);
    result.repaired = true;
    return result;
}

}  // namespace vark
