// The maintenance of a criterion file: records of fields that vanished
// from the layer marked deleted, then dropped by a compaction.

#include "criterion_file/CriterionFile.h"
#include "criterion_file/FzyModule.h"
#include "criterion_file/fzy_io.h"
#include "host/HostState.h"
#include "support/Cp1252.h"

namespace vark {

using fzy::ReportFzyFailure;

namespace {

[[noreturn]] void ThrowNotSet(const std::string& what) {
    throw Failure(err::kObjectVariableNotSet, "Object variable not set: " + what, "fzy_io_check");
}

}  // namespace

bool fzy_io_check(const std::string& fieldName, const std::string& layerName) {
    int marker = 1;
    try {
        const auto app = g_pApplication();
        if (!app) {
            ThrowNotSet("no map application");
        }
        const auto document = app->GetDocument();
        if (!document) {
            ThrowNotSet("the application has no document");
        }
        const auto map = document->GetFocusMap();
        if (!map) {
            ThrowNotSet("the document has no focus map");
        }
        std::shared_ptr<host::Layer> layer;
        const std::int32_t layerCount = map->GetLayerCount();
        for (std::int32_t i = 0; i < layerCount; ++i) {
            auto candidate = map->GetMapLayer(i);
            if (candidate && candidate->GetLayerName() == layerName) {
                layer = std::move(candidate);
                break;
            }
        }
        if (!layer) {
            // Some other layer's fields say nothing about this one's.
            return true;
        }
        marker = 2;
        const auto featureLayer = std::dynamic_pointer_cast<host::FeatureLayer>(layer);
        if (!featureLayer) {
            throw Failure(err::kTypeMismatch,
                          "Type mismatch: the layer \"" + layerName + "\" is not a feature layer",
                          "fzy_io_check");
        }
        const auto featureClass = featureLayer->GetFeatureClass();
        if (!featureClass) {
            ThrowNotSet("the layer \"" + layerName + "\" has no feature class");
        }
        const host::Fields fields = featureClass->GetFields();
        marker = 3;
        // Compared as the criterion file stores names, so that a field whose
        // name holds a character the file cannot store ("?" there) still
        // finds its record.
        const std::string stored = EncodeCp1252(fieldName);
        for (std::int32_t i = 0; i < fields.GetFieldCount(); ++i) {
            if (EncodeCp1252(fields.GetField(i).GetFieldName()) == stored) {
                return true;
            }
        }
        return false;
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_check", marker);
        // A field that could not be checked counts as present: its record stays.
        return true;
    }
}

namespace fzy {

void CriterionFile::RequireNamesOpenFile(const std::string& layerName,
                                         const std::string& workspacePath) const {
    if (m_store) {
        if (workspacePath != m_storeWorkspace || layerName != m_storeLayer) {
            throw Failure(err::kInvalidProcedureCall,
                          "Invalid procedure call: layer \"" + layerName + "\" of \"" +
                              workspacePath + "\" is not the one of the open criterion record " +
                              m_state.path,
                          "fzy_io_compressfzy");
        }
        return;
    }
    const std::string named = FzyFilePath(workspacePath, layerName);
    if (named != m_state.path) {
        throw Failure(err::kInvalidProcedureCall,
                      "Invalid procedure call: layer \"" + layerName + "\" of \"" + workspacePath +
                          "\" has the criterion file \"" + named + "\", not the open one \"" +
                          m_state.path + "\"",
                      "fzy_io_compressfzy");
    }
}

/// The open file without its deleted records: header bytes kept, Kind1Count
/// the kept kind-1 records, Kind2Count the other kept ones, DeletedCount 0.
void CriterionFile::CompactOpenFile(const LoadedFile& f, int& marker) {
    std::string out = f.bytes.substr(0, kHeaderSize);
    marker = 2;
    std::int16_t kind1 = 0;
    std::int16_t others = 0;
    marker = 3;
    for (const RecordFrame& frame : f.layout.records) {
        marker = 4;
        if (frame.kind < kFirstDeletedKind) {
            out.append(f.bytes, frame.offset, static_cast<std::size_t>(frame.length));
            marker = 5;
            if (frame.kind == 1) {
                ++kind1;
            } else {
                ++others;
            }
        }
        marker = 6;
    }
    PutInt16(out, kKind1CountOffset, kind1);
    PutInt16(out, kKind2CountOffset, others);
    PutInt16(out, kDeletedCountOffset, 0);
    marker = 7;
    Replace(out);
    marker = 10;
    m_state.Kind1Count = kind1;
    m_state.Kind2Count = others;
    m_state.DeletedCount = 0;
}

std::int16_t CriterionFile::Validate(const FieldExistsFn& fieldExists, const std::string& layerName,
                                     const std::string& workspacePath) {
    int marker = 0;
    LoadedFile f;
    std::int16_t storedDeleted = 0;
    try {
        f = Load();
        m_state.Kind1Count = f.layout.Kind1Count;
        m_state.Kind2Count = f.layout.Kind2Count;
        m_state.DeletedCount = f.layout.DeletedCount;
        storedDeleted = f.layout.DeletedCount;
        marker = 1;
        if (!f.layout.sound()) {
            ThrowDamaged(f.layout.damage);
        }
        // Marked in memory: the compaction below writes the outcome in one
        // replacement, so no half-marked file can ever be left.
        std::int16_t deleted = f.layout.DeletedCount;
        for (RecordFrame& frame : f.layout.records) {
            marker = 2;
            if (frame.kind >= kFirstDeletedKind) {
                continue;
            }
            const std::string name = DecodeCp1252(RecordFieldName(f.bytes, frame));
            marker = 3;
            if (fieldExists(name)) {
                continue;
            }
            RequireWritable();
            // The count only has to stay above 0, so it stops at its maximum.
            if (deleted < INT16_MAX) {
                ++deleted;
            }
            frame.kind = static_cast<std::int16_t>(frame.kind + kDeletedKindOffset);
            PutInt16(f.bytes, frame.offset + 2, frame.kind);
        }
        PutInt16(f.bytes, kDeletedCountOffset, deleted);
        f.layout.DeletedCount = deleted;
        m_state.DeletedCount = deleted;
        if (deleted <= 0) {
            return 1;
        }
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_valid", marker);
        return 0;
    }
    // Reported as the compaction's own failure, as when it is called alone.
    int compactMarker = 1;
    try {
        RequireNamesOpenFile(layerName, workspacePath);
        RequireWritable();
        CompactOpenFile(f, compactMarker);
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_compressfzy", compactMarker);
        m_state.DeletedCount = storedDeleted;
    }
    return 1;
}

void CriterionFile::Compress(int fileNumber, const std::string& layerName,
                             const std::string& workspacePath) {
    int marker = 1;
    try {
        if (!IsOpen() || fileNumber != m_state.gFzyFile) {
            throw Failure(err::kBadFileNameOrNumber,
                          "Bad file name or number: file " + std::to_string(fileNumber) +
                              " is not the open criterion file",
                          "fzy_io_compressfzy");
        }
        RequireNamesOpenFile(layerName, workspacePath);
        RequireWritable();
        const LoadedFile f = Load();
        if (!f.layout.sound()) {
            ThrowDamaged(f.layout.damage);
        }
        CompactOpenFile(f, marker);
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_compressfzy", marker);
    }
}

}  // namespace fzy

}  // namespace vark
