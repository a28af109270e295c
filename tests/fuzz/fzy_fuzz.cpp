// Fuzz target: any bytes as the criterion file of layer "L", then every
// reader, the maintenance and an append. Checks, besides the sanitizers:
// - opening and reading never change the file;
// - a damaged file is never changed and never leaves a temporary file;
// - on a sound file the maintenance keeps exactly the live records whose
//   field exists (A or B), byte for byte and in order, with counts to match,
//   and writes nothing when there is nothing to drop;
// - an append to a sound file leaves a sound file ending with the record;
// - a repair leaves a sound file and the old bytes aside, or nothing changed.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "criterion_file/FzyLayout.h"
#include "criterion_file/FzyRepair.h"
#include "criterion_file/fzy_io.h"
#include "host/HostState.h"
#include "host/fake/FakeHost.h"
#include "support/Failure.h"
#include "support/RecordingUi.h"
#include "testing/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace vark;
using vark::test::ReadBytes;
using vark::test::TemporariesIn;

struct Harness {
    std::string folder;
    std::string file;
    std::shared_ptr<RecordingUi> ui = std::make_shared<RecordingUi>();
    std::shared_ptr<host::fake::FakeApplication> app;
};

Harness* gHarness = nullptr;

void RemoveFolder() {
    if (gHarness != nullptr) {
        std::error_code ec;
        fs::remove_all(gHarness->folder, ec);
    }
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fzy_fuzz: %s\n", what);
    std::abort();
}

bool FieldExists(std::string_view name) {
    return name == "A" || name == "B";
}

/// A file as the module sees it: one shorter than a record's position holds
/// no record and is the header it gets with its first record.
std::string ViewOf(const std::string& bytes) {
    if (bytes.size() > fzy::kHeaderSize) {
        return bytes;
    }
    std::string view = bytes;
    view.resize(fzy::kHeaderSize, '\0');
    view.replace(0, 8, fzy::NewHeaderBytes(), 0, 8);
    return view;
}

/// What the maintenance must leave of a sound file (`bytes` is its view).
std::string ExpectedAfterMaintenance(const std::string& stored, const std::string& bytes,
                                     const fzy::FzyLayout& layout) {
    bool dropsSomething = layout.DeletedCount > 0;
    std::string out = bytes.substr(0, fzy::kHeaderSize);
    std::int16_t kind1 = 0;
    std::int16_t others = 0;
    for (const auto& r : layout.records) {
        if (r.kind >= fzy::kFirstDeletedKind) {
            continue;
        }
        if (!FieldExists(fzy::RecordFieldName(bytes, r))) {
            dropsSomething = true;
            continue;
        }
        out.append(bytes, r.offset, static_cast<std::size_t>(r.length));
        if (r.kind == 1) {
            ++kind1;
        } else {
            ++others;
        }
    }
    if (!dropsSomething) {
        return stored;
    }
    fzy::PutInt16(out, fzy::kKind1CountOffset, kind1);
    fzy::PutInt16(out, fzy::kKind2CountOffset, others);
    fzy::PutInt16(out, fzy::kDeletedCountOffset, 0);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gHarness = new Harness;
    std::string pattern = (fs::temp_directory_path() / "fzy-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("mkdtemp failed");
    }
    gHarness->folder = pattern;
    gHarness->file = (fs::path(pattern) / "L.fzy").string();
    std::atexit(RemoveFolder);
    setenv("LC_ALL", "C", 1);

    SetUi(gHarness->ui);
    gHarness->app = std::make_shared<host::fake::FakeApplication>();
    auto fc = gHarness->app->addWorkspace(pattern)->createFeatureClass(
        "L", host::kShapePolygon,
        {host::fake::MakeField("A", host::kFieldDouble),
         host::fake::MakeField("B", host::kFieldDouble)},
        false);
    gHarness->app->addFeatureLayer("L", fc);
    g_pApplication() = gHarness->app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Harness& h = *gHarness;
    const std::string input(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(h.file, std::ios::binary | std::ios::trunc);
        out << input;
    }
    h.ui->clear();

    std::string path = h.folder;
    std::string layer = "L.shp";
    try {
        fzy_io_open(path, layer);
    } catch (const Failure&) {
        Fail("open failed on a regular file");
    }
    if (layer != "L") {
        Fail("\".shp\" not removed");
    }
    if (ReadBytes(h.file) != input) {
        Fail("open changed the file");
    }
    const std::string opened = ViewOf(input);
    const bool damaged = !FzyFileDamage().empty();
    const fzy::FzyLayout layout = fzy::ReadFzyLayout(opened);
    if (!damaged && !layout.sound()) {
        Fail("FzyFileDamage and ReadFzyLayout disagree");
    }

    fzy_io_numberinfo("A");
    fzy_io_recordinfo("A", "");
    if (!layout.records.empty()) {
        const std::string first(fzy::RecordFieldName(opened, layout.records.front()));
        fzy_io_numberinfo(first);
        fzy_io_recordinfo(first, "");
    }
    if (size >= 4) {
        std::int16_t count = 0;
        std::int16_t position = 0;
        std::memcpy(&count, data, 2);
        std::memcpy(&position, data + 2, 2);
        try {
            fzy_io_readchars(count, position);
        } catch (const Failure&) {
        }
    }
    if (ReadBytes(h.file) != input) {
        Fail("a reader changed the file");
    }
    const std::size_t messagesBefore = h.ui->calls.size();
    fzy_io_valid("L", h.folder);

    const std::string afterValid = ReadBytes(h.file);
    if (!TemporariesIn(h.folder).empty()) {
        Fail("temporary file left behind");
    }
    if (damaged) {
        if (afterValid != input) {
            Fail("maintenance changed a damaged file");
        }
    } else {
        if (h.ui->calls.size() != messagesBefore) {
            Fail("maintenance of a sound file reported a failure");
        }
        if (afterValid != ExpectedAfterMaintenance(input, opened, layout)) {
            Fail("maintenance did not keep exactly the live records of existing fields");
        }
    }

    bool appended = false;
    try {
        appended = fzy_io_addrecord("B", "B", 999, 0, 0, 0, 0, h.folder, "L") == 1;
    } catch (const Failure& f) {
        if (!damaged && f.number() != err::kOverflow) {
            Fail("append to a sound file failed");
        }
    }
    fzy_io_close();
    const std::string final = ReadBytes(h.file);
    if (!TemporariesIn(h.folder).empty()) {
        Fail("temporary file left behind by the append");
    }
    const std::string validView = ViewOf(afterValid);
    if (damaged) {
        if (appended || final != input) {
            Fail("append changed a damaged file");
        }
    } else if (appended) {
        const fzy::FzyLayout after = fzy::ReadFzyLayout(final);
        if (!after.sound() || after.records.empty() ||
            fzy::RecordFieldName(final, after.records.back()) != "B" ||
            final.compare(fzy::kHeaderSize, validView.size() - fzy::kHeaderSize, validView,
                          fzy::kHeaderSize) != 0) {
            Fail("append did not add one record at the end");
        }
    } else if (final != afterValid) {
        Fail("a refused append changed the file");
    }

    // The repair: a damaged file becomes a sound one, its bytes put aside
    // whole; anything else is left as it is.
    {
        std::ofstream out(h.file, std::ios::binary | std::ios::trunc);
        out << input;
    }
    const std::string copy = h.file + ".damaged";
    fs::remove(copy);
    FzyRepairResult repair;
    try {
        repair = RepairCriterionFile(h.file);
    } catch (const Failure&) {
        Fail("repair failed on a regular file");
    }
    if (repair.repaired) {
        const std::string repaired = ReadBytes(h.file);
        if (!fzy::ReadFzyLayout(repaired).sound() || ReadBytes(copy) != input ||
            repair.keptRecords != fzy::ReadFzyLayout(repaired).records.size()) {
            Fail("repair did not leave a sound file and the old bytes aside");
        }
    } else if (ReadBytes(h.file) != input || fs::exists(copy) || (damaged && size > 23)) {
        Fail("repair changed a file it did not repair, or left a damaged one");
    }
    fs::remove(copy);
    return 0;
}
