#include "criterion_file/FzyLayout.h"

#include <bit>
#include <cstring>

#include "support/Cp1252.h"
#include "support/Failure.h"

namespace vark::fzy {

static_assert(std::endian::native == std::endian::little,
              "the criterion file is little-endian; add byte swapping for this platform");

std::int16_t GetInt16(std::string_view bytes, std::size_t offset) {
    std::int16_t v = 0;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

double GetDouble(std::string_view bytes, std::size_t offset) {
    double v = 0;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

void PutInt16(std::string& bytes, std::size_t offset, std::int16_t value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

void AppendInt16(std::string& bytes, std::int16_t value) {
    char raw[sizeof value];
    std::memcpy(raw, &value, sizeof value);
    bytes.append(raw, sizeof raw);
}

void AppendDouble(std::string& bytes, double value) {
    char raw[sizeof value];
    std::memcpy(raw, &value, sizeof value);
    bytes.append(raw, sizeof raw);
}

std::string NewHeaderBytes() {
    std::string header(kHeaderSize, '\0');
    PutInt16(header, kHeaderMarkOffset, kHeaderMark);
    return header;
}

namespace {

std::string At(std::size_t index, std::size_t offset) {
    return "record " + std::to_string(index + 1) + " (byte " + std::to_string(offset + 1) + ")";
}

}  // namespace

FzyLayout ReadFzyLayout(std::string_view file) {
    FzyLayout layout;
    if (file.size() < kHeaderSize) {
        layout.damage = "its header is cut short (" + std::to_string(file.size()) +
                        " bytes, a header takes " + std::to_string(kHeaderSize) + ")";
        return layout;
    }
    if (file.size() > kMaxFileBytes) {
        layout.damage = "it is " + std::to_string(file.size()) +
                        " bytes long, more than a criterion file can hold";
        return layout;
    }
    layout.Kind1Count = GetInt16(file, kKind1CountOffset);
    layout.Kind2Count = GetInt16(file, kKind2CountOffset);
    layout.DeletedCount = GetInt16(file, kDeletedCountOffset);
    if (layout.Kind1Count < 0 || layout.Kind2Count < 0 || layout.DeletedCount < 0) {
        layout.damage = "its header holds a negative count (Kind1Count " +
                        std::to_string(layout.Kind1Count) + ", Kind2Count " +
                        std::to_string(layout.Kind2Count) + ", DeletedCount " +
                        std::to_string(layout.DeletedCount) + ")";
        return layout;
    }
    const std::size_t count =
        static_cast<std::size_t>(layout.Kind1Count) + static_cast<std::size_t>(layout.Kind2Count);
    std::size_t offset = kHeaderSize;
    // Every record takes at least kFrameSize bytes, so the loop ends after
    // at most file.size() / kFrameSize rounds whatever the counts say.
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t left = file.size() - offset;
        if (left == 0) {
            layout.damage = "its header counts " + std::to_string(count) +
                            " records but the file ends after " + std::to_string(i);
            return layout;
        }
        if (left < static_cast<std::size_t>(kFrameSize)) {
            layout.damage = At(i, offset) + " is cut short by the end of the file";
            return layout;
        }
        RecordFrame frame{offset, GetInt16(file, offset), GetInt16(file, offset + 2)};
        if (frame.length < kFrameSize) {
            layout.damage = At(i, offset) + " has an impossible RecordLength of " +
                            std::to_string(frame.length);
            return layout;
        }
        if (static_cast<std::size_t>(frame.length) > left) {
            layout.damage = At(i, offset) + " has a RecordLength of " +
                            std::to_string(frame.length) + " but only " + std::to_string(left) +
                            " bytes are left in the file";
            return layout;
        }
        // A negative kind stays below the deleted kinds however often 10 is
        // added, so such a record could never be removed: no tool writes one.
        if (frame.kind < 0) {
            layout.damage =
                At(i, offset) + " has an impossible RecordKind of " + std::to_string(frame.kind);
            return layout;
        }
        const std::int16_t nameLength = GetInt16(file, offset + 4);
        if (nameLength < 0 || kFrameSize + nameLength > frame.length) {
            layout.damage = At(i, offset) + " has a field name of " + std::to_string(nameLength) +
                            " bytes that does not fit its " + std::to_string(frame.length) +
                            " bytes";
            return layout;
        }
        layout.records.push_back(frame);
        offset += static_cast<std::size_t>(frame.length);
    }
    layout.allCounted = true;
    if (offset != file.size()) {
        layout.damage = std::to_string(file.size() - offset) + " bytes follow the last of the " +
                        std::to_string(count) + " records its header counts";
    }
    return layout;
}

std::string_view RecordFieldName(std::string_view file, const RecordFrame& frame) {
    const auto length = static_cast<std::size_t>(GetInt16(file, frame.offset + 4));
    return file.substr(frame.offset + kFrameSize, length);
}

namespace {

/// Reads the fields of one record in order, refusing to pass its end.
class RecordReader {
public:
    RecordReader(std::string_view file, const RecordFrame& frame)
        : m_file(file),
          m_offset(frame.offset + 4),
          m_end(frame.offset + static_cast<std::size_t>(frame.length)),
          m_frame(frame) {}

    std::int16_t Int16() {
        Need(2, "a 16-bit number");
        const std::int16_t v = GetInt16(m_file, m_offset);
        m_offset += 2;
        return v;
    }
    double Double() {
        Need(8, "a double");
        const double v = GetDouble(m_file, m_offset);
        m_offset += 8;
        return v;
    }
    std::string Text() {
        const std::int16_t length = Int16();
        if (length < 0) {
            Fail("a text of negative length " + std::to_string(length));
        }
        Need(static_cast<std::size_t>(length), "a text");
        std::string decoded =
            DecodeCp1252(m_file.substr(m_offset, static_cast<std::size_t>(length)));
        m_offset += static_cast<std::size_t>(length);
        return decoded;
    }

private:
    void Need(std::size_t bytes, const char* what) {
        if (m_end - m_offset < bytes) {
            Fail(std::string(what) + " at byte " + std::to_string(m_offset + 1) +
                 " runs past its RecordLength of " + std::to_string(m_frame.length));
        }
    }
    [[noreturn]] void Fail(const std::string& what) {
        throw Failure(kDamagedFileError,
                      "the record of kind " + std::to_string(m_frame.kind) + " at byte " +
                          std::to_string(m_frame.offset + 1) + " is damaged: " + what,
                      "fzy_io");
    }

    std::string_view m_file;
    std::size_t m_offset;
    std::size_t m_end;
    RecordFrame m_frame;
};

}  // namespace

Kind2Record DecodeKind2(std::string_view file, const RecordFrame& frame) {
    RecordReader in(file, frame);
    Kind2Record r;
    r.fieldName = in.Text();
    r.code = in.Int16();
    r.alias = in.Text();
    r.Val_a = in.Double();
    r.Val_b = in.Double();
    r.Val_c = in.Double();
    r.Val_d = in.Double();
    r.workspacePath = in.Text();
    r.layerName = in.Text();
    r.created = in.Double();
    in.Int16();  // EndMark: not checked, other writers may differ
    return r;
}

Kind1Record DecodeKind1(std::string_view file, const RecordFrame& frame) {
    RecordReader in(file, frame);
    Kind1Record r;
    r.fieldName = in.Text();
    r.N = in.Int16();
    for (auto& t : r.T) {
        t = in.Text();
    }
    r.date = in.Double();
    return r;
}

namespace {

void AppendText(std::string& bytes, const std::string& encoded, const char* what) {
    if (encoded.size() > static_cast<std::size_t>(kMaxPosition)) {
        throw Failure(err::kOverflow,
                      std::string("Overflow: the ") + what + " is " +
                          std::to_string(encoded.size()) + " bytes long, more than a criterion " +
                          "file can store",
                      "fzy_io");
    }
    AppendInt16(bytes, static_cast<std::int16_t>(encoded.size()));
    bytes += encoded;
}

}  // namespace

std::string EncodeKind2(const Kind2Record& record) {
    const std::string name = EncodeCp1252(record.fieldName);
    const std::string alias = EncodeCp1252(record.alias);
    const std::string path = EncodeCp1252(record.workspacePath);
    const std::string layer = EncodeCp1252(record.layerName);
    const std::size_t length =
        kKind2FixedSize + name.size() + alias.size() + path.size() + layer.size();
    if (length > static_cast<std::size_t>(kMaxPosition)) {
        throw Failure(err::kOverflow,
                      "Overflow: the record of field \"" + record.fieldName + "\" would be " +
                          std::to_string(length) + " bytes long, more than a criterion file " +
                          "can store",
                      "fzy_io");
    }
    std::string bytes;
    bytes.reserve(length);
    AppendInt16(bytes, static_cast<std::int16_t>(length));
    AppendInt16(bytes, 2);
    AppendText(bytes, name, "field name");
    AppendInt16(bytes, record.code);
    AppendText(bytes, alias, "alias");
    AppendDouble(bytes, record.Val_a);
    AppendDouble(bytes, record.Val_b);
    AppendDouble(bytes, record.Val_c);
    AppendDouble(bytes, record.Val_d);
    AppendText(bytes, path, "workspace path");
    AppendText(bytes, layer, "layer name");
    AppendDouble(bytes, record.created);
    AppendInt16(bytes, kEndMark);
    return bytes;
}

}  // namespace vark::fzy
