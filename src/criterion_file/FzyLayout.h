#pragma once

// Byte layout of the criterion file: the 23-byte header, the record frame
// every record starts with, and the bodies of kind-1 and kind-2 records.
// Everything here works on bytes in memory, checks every offset against the
// bytes it was given, and never loops beyond the records the bytes hold; the
// open file and the module state live in fzy_io.cpp.
//
// Numbers are little-endian: 16-bit signed counts and lengths, IEEE doubles.
// A text is a 16-bit byte count followed by that many Windows-1252 bytes.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vark::fzy {

/// Size of the header; records start at this offset (position 24).
constexpr std::size_t kHeaderSize = 23;
/// Offsets of the header counts.
constexpr std::size_t kHeaderMarkOffset = 0;
constexpr std::size_t kKind1CountOffset = 2;
constexpr std::size_t kKind2CountOffset = 4;
constexpr std::size_t kDeletedCountOffset = 6;
/// Positions are 16-bit numbers: the position after the last byte of a file
/// (where the next record would start) never goes past this. The longest
/// file the family's tools can write is therefore 32766 bytes.
constexpr std::int32_t kMaxPosition = 32767;
/// A file longer than this was not written by the family's tools; it is
/// reported as damaged without being read.
constexpr std::size_t kMaxFileBytes = 32767;
/// RecordLength, RecordKind and the field name's count: the part every
/// record starts with.
constexpr std::int32_t kFrameSize = 6;
/// A kind-2 record is this long plus the bytes of its four texts.
constexpr std::int32_t kKind2FixedSize = 56;
constexpr std::int16_t kEndMark = 99;
constexpr std::int16_t kHeaderMark = 1;
/// A RecordKind of this or more marks a deleted record; deleting adds
/// kDeletedKindOffset to the kind.
constexpr std::int16_t kFirstDeletedKind = 6;
constexpr std::int16_t kDeletedKindOffset = 10;

/// Failure number for a damaged criterion file (counts that do not fit the
/// file, a record cut short or of impossible length): the runtime's "input
/// past end of file", which is what reading such a file runs into.
constexpr std::int32_t kDamagedFileError = 62;

std::int16_t GetInt16(std::string_view bytes, std::size_t offset);
double GetDouble(std::string_view bytes, std::size_t offset);
void PutInt16(std::string& bytes, std::size_t offset, std::int16_t value);
void AppendInt16(std::string& bytes, std::int16_t value);
void AppendDouble(std::string& bytes, double value);

/// The header of a file created by this system: mark 1, counts 0, 15 zero
/// bytes.
std::string NewHeaderBytes();

/// Where one record lies in the file.
struct RecordFrame {
    std::size_t offset = 0;  ///< file offset of its RecordLength (position - 1)
    std::int16_t length = 0;
    std::int16_t kind = 0;
};

/// The header counts and the records they announce, or what is wrong with
/// them. When `damage` is not empty the file must not be written to, and
/// `records` holds only the records found before the damage.
struct FzyLayout {
    std::int16_t Kind1Count = 0;
    std::int16_t Kind2Count = 0;
    std::int16_t DeletedCount = 0;
    std::vector<RecordFrame> records;
    std::string damage;
    /// Every record the header counts was found whole (bytes may follow the
    /// last one).
    bool allCounted = false;

    bool sound() const { return damage.empty(); }
    /// The readers' walk reaches every counted record: a sound file, or one
    /// whose only fault is bytes after its last counted record. Such a file
    /// is read, never written to.
    bool readable() const { return allCounted; }
};

/// Walks the records of a whole criterion file held in `file`. A sound file
/// has a complete header, no negative count or record kind, and exactly Kind1Count +
/// Kind2Count records, each at least as long as its frame and its field
/// name, following one another from offset 23 to the last byte of the file.
/// Anything else is described in `damage`. Costs one pass; never reads
/// outside `file`.
FzyLayout ReadFzyLayout(std::string_view file);

/// The field name of a record (Windows-1252 bytes, not decoded). The frame
/// must come from a ReadFzyLayout of the same bytes.
std::string_view RecordFieldName(std::string_view file, const RecordFrame& frame);

/// A kind-2 record as this system writes it. Texts are UTF-8.
struct Kind2Record {
    std::string fieldName;
    std::int16_t code = 0;
    std::string alias;
    double Val_a = 0;
    double Val_b = 0;
    double Val_c = 0;
    double Val_d = 0;
    std::string workspacePath;
    std::string layerName;
    double created = 0;  ///< OLE Automation date, local time
};

/// A kind-1 record as the other tools of the family write it. Texts are
/// UTF-8; T[0] is T1.
struct Kind1Record {
    std::string fieldName;
    std::int16_t N = 0;
    std::array<std::string, 9> T;
    double date = 0;
};

/// Reads the body of a kind-2 (or kind-12) record. Throws Failure (damaged
/// file) when a field would run past the record's RecordLength; bytes after
/// EndMark are ignored, and EndMark itself is not required to be 99.
Kind2Record DecodeKind2(std::string_view file, const RecordFrame& frame);
/// Reads the body of a kind-1 (or kind-11) record; whatever follows the date
/// up to RecordLength is ignored. Throws Failure (damaged file) when a field
/// would run past RecordLength.
Kind1Record DecodeKind1(std::string_view file, const RecordFrame& frame);

/// The bytes of a kind-2 record: RecordLength = 56 + the bytes of its four
/// texts, RecordKind 2, ..., EndMark 99. Texts are encoded to Windows-1252.
/// Throws Failure (overflow) when the record would be longer than 32767
/// bytes.
std::string EncodeKind2(const Kind2Record& record);

}  // namespace vark::fzy
