#pragma once

// Repair of a damaged criterion file: the records the walk can read are
// kept, the damaged file is put aside, and a sound file takes its place.

#include <cstddef>
#include <string>

namespace vark {

/// What a repair found and did.
struct FzyRepairResult {
    /// The file was damaged and has been replaced; false when it was sound
    /// (or too short to hold a record, which readers take as new) and
    /// nothing was written.
    bool repaired = false;
    /// What was wrong with it ("" when it was sound).
    std::string damage;
    /// Records kept, and records its header counted.
    std::size_t keptRecords = 0;
    std::size_t countedRecords = 0;
    /// Where the damaged file now lies: "<file>.damaged".
    std::string damagedCopy;
};

/// Repairs the criterion file `path` (a symbolic link is followed; its
/// target is repaired and the link stays):
/// 1. reads it whole (only its first 32767 bytes count: no criterion file
///    is longer) and walks its records as the readers do, up to the first
///    damage;
/// 2. when it is sound, returns without writing anything;
/// 3. otherwise writes its bytes, unchanged, to "<path>.damaged", then
///    replaces the file by its header (mark and unused bytes kept) and the
///    whole records found before the damage, the counts recomputed
///    (Kind1Count the kind-1 and kind-11 records, Kind2Count the others,
///    DeletedCount the deleted ones).
/// Each of the two writes is whole or absent (AtomicFile.h); between them
/// the file is unchanged and the copy complete. Throws Failure: 53 when
/// there is no such file, 52 for something other than a regular file, 58
/// (file already exists) when "<path>.damaged" exists (an earlier repair's
/// copy is never overwritten), 70, 76 or 57 from the file system.
FzyRepairResult RepairCriterionFile(const std::string& path);

}  // namespace vark
