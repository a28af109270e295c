// Test-only program for the fault-injection test (fzy_fault_injection.sh):
// makes one change of a criterion file, so that the test can stop it at
// every system call, and checks what a stop left.
//
//   fzy_fault_driver setup  <scenario> <folder>   writes the starting files
//   fzy_fault_driver change <scenario> <folder>   the change; exit 0 when it
//                                                 succeeded, 1 when it failed
//                                                 (the reason on stderr)
//   fzy_fault_driver next   <scenario> <folder>   change, then verify
//   fzy_fault_driver verify <scenario> <folder>   prints how many changes the
//                                                 file holds (0: the old
//                                                 bytes, exactly); exit 2 with
//                                                 the reason when it is
//                                                 anything else
//
// Scenarios: "new" (append to a layer without criterion file), "append" (to
// a file with records of both kinds), "link" (append through a symbolic
// link to a file in another folder), "valid" (records of a vanished field
// and one marked by an earlier run are removed: check and compaction).

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "criterion_file/FzyLayout.h"
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
using vark::test::WriteBytes;

constexpr const char* kLayer = "p";
constexpr const char* kNewField = "FZY_NEW";

struct Paths {
    std::string folder;
    std::string fzy;     ///< what the module opens
    std::string stored;  ///< the file that holds the bytes (a link's target)
    std::string old;     ///< copy of the starting bytes ("" content when none)
};

Paths PathsOf(const std::string& scenario, const std::string& folder) {
    Paths p;
    p.folder = folder;
    p.fzy = folder + "/p.fzy";
    p.stored = scenario == "link" ? folder + "/store/real.fzy" : p.fzy;
    p.old = folder + "/old.bin";
    return p;
}

std::string Text(const std::string& s) {
    std::string out;
    fzy::AppendInt16(out, static_cast<std::int16_t>(s.size()));
    return out + s;
}

std::string Kind2(const std::string& name, std::int16_t kind = 2) {
    fzy::Kind2Record r;
    r.fieldName = name;
    r.alias = name;
    r.code = 999;
    r.workspacePath = "/data";
    r.layerName = kLayer;
    r.created = 45306.5;
    std::string bytes = fzy::EncodeKind2(r);
    fzy::PutInt16(bytes, 2, kind);
    return bytes;
}

std::string Kind1(const std::string& name) {
    std::string body = Text(name);
    fzy::AppendInt16(body, 3);
    for (int i = 1; i <= 9; ++i) {
        body += Text("t" + std::to_string(i));
    }
    fzy::AppendDouble(body, 45306.0);
    std::string bytes;
    fzy::AppendInt16(bytes, static_cast<std::int16_t>(4 + body.size()));
    fzy::AppendInt16(bytes, 1);
    return bytes + body;
}

std::string Header(std::int16_t kind1, std::int16_t kind2, std::int16_t deleted) {
    std::string h = fzy::NewHeaderBytes();
    fzy::PutInt16(h, fzy::kKind1CountOffset, kind1);
    fzy::PutInt16(h, fzy::kKind2CountOffset, kind2);
    fzy::PutInt16(h, fzy::kDeletedCountOffset, deleted);
    h[15] = 'u';  // unused bytes are kept as they are
    return h;
}

/// The file the change must leave, from the starting one.
std::string CompactedFile() {
    return Header(1, 2, 0) + Kind2("A") + Kind1("K") + Kind2("B");
}

void Setup(const std::string& scenario, const Paths& p) {
    std::string bytes;
    if (scenario == "append" || scenario == "link") {
        bytes = Header(1, 2, 0) + Kind2("A") + Kind1("K") + Kind2("B");
    } else if (scenario == "valid") {
        bytes = Header(1, 4, 1) + Kind2("A") + Kind2("GONE") + Kind1("K") + Kind2("OLD", 12) +
                Kind2("B");
    } else if (scenario != "new") {
        throw std::runtime_error("unknown scenario " + scenario);
    }
    if (scenario == "link") {
        fs::create_directory(p.folder + "/store");
        fs::create_symlink("store/real.fzy", p.fzy);
    }
    if (!bytes.empty()) {
        WriteBytes(p.stored, bytes);
        fs::permissions(p.stored, static_cast<fs::perms>(0640));
    }
    WriteBytes(p.old, bytes);
}

void InstallLayer(const std::string& folder) {
    auto app = std::make_shared<host::fake::FakeApplication>();
    auto fc = app->addWorkspace(folder)->createFeatureClass(
        kLayer, host::kShapePolygon,
        {host::fake::MakeField("A", host::kFieldDouble),
         host::fake::MakeField("B", host::kFieldDouble),
         host::fake::MakeField("K", host::kFieldDouble),
         host::fake::MakeField(kNewField, host::kFieldDouble)});
    app->addFeatureLayer(kLayer, fc);
    g_pApplication() = app;
}

int Change(const std::string& scenario, const Paths& p) {
    auto ui = std::make_shared<RecordingUi>();
    SetUi(ui);
    InstallLayer(p.folder);
    try {
        std::string folder = p.folder;
        std::string layer = kLayer;
        fzy_io_open(folder, layer);
        if (scenario == "valid") {
            fzy_io_valid(layer, folder);
            const bool done = FzyState().DeletedCount == 0;
            fzy_io_close();
            for (const auto& call : ui->messages()) {
                std::cerr << call.prompt << '\n';
            }
            return done && ui->messages().empty() ? 0 : 1;
        }
        FzyCheckAppend(kNewField, kNewField, folder, layer);
        fzy_io_addrecord(kNewField, kNewField, 999, 0, 0, 0, 0, folder, layer);
        fzy_io_close();
        return 0;
    } catch (const Failure& f) {
        std::cerr << f.number() << "  " << f.description() << '\n';
        return 1;
    }
}

[[noreturn]] void Bad(const std::string& why) {
    std::cout << "BAD: " << why << std::endl;
    std::exit(2);
}

/// How many appended records `bytes` holds past the starting file `old`:
/// each must be the new record exactly (its date aside).
int AppendedRecords(const std::string& old, const std::string& bytes, const std::string& folder) {
    const std::string start = old.empty() ? fzy::NewHeaderBytes() : old;
    const fzy::FzyLayout before = fzy::ReadFzyLayout(start);
    const fzy::FzyLayout after = fzy::ReadFzyLayout(bytes);
    if (!after.sound()) {
        Bad("damaged: " + after.damage);
    }
    const auto added = static_cast<int>(after.records.size() - before.records.size());
    if (added < 0 || bytes.compare(fzy::kHeaderSize, start.size() - fzy::kHeaderSize, start,
                                   fzy::kHeaderSize) != 0) {
        Bad("the records already there changed");
    }
    std::string header = start.substr(0, fzy::kHeaderSize);
    fzy::PutInt16(header, fzy::kKind2CountOffset,
                  static_cast<std::int16_t>(before.Kind2Count + added));
    if (bytes.compare(0, fzy::kHeaderSize, header) != 0) {
        Bad("the header is not the old one with the new count");
    }
    for (std::size_t i = before.records.size(); i < after.records.size(); ++i) {
        const fzy::RecordFrame& frame = after.records[i];
        fzy::Kind2Record expected;
        expected.fieldName = kNewField;
        expected.alias = kNewField;
        expected.code = 999;
        expected.workspacePath = folder;
        expected.layerName = kLayer;
        expected.created = fzy::DecodeKind2(bytes, frame).created;
        if (bytes.compare(frame.offset, static_cast<std::size_t>(frame.length),
                          fzy::EncodeKind2(expected)) != 0) {
            Bad("an appended record is not the new one");
        }
    }
    return added;
}

int Verify(const std::string& scenario, const Paths& p) {
    const std::string old = ReadBytes(p.old);
    if (scenario == "link" && !fs::is_symlink(p.fzy)) {
        Bad("the link is no longer a link");
    }
    const bool exists = fs::exists(p.stored);
    const std::string bytes = ReadBytes(p.stored);
    int changes = 0;
    if (!exists) {
        if (scenario != "new") {
            Bad("the criterion file is gone");
        }
    } else if (scenario == "valid") {
        if (bytes == old) {
            changes = 0;
        } else if (bytes == CompactedFile()) {
            changes = 1;
        } else {
            Bad("neither the old nor the compacted file");
        }
    } else {
        changes = AppendedRecords(old, bytes, p.folder);
    }
    if (exists && !old.empty()) {
        struct stat st {};
        if (::stat(p.stored.c_str(), &st) != 0 || (st.st_mode & 07777) != 0640) {
            Bad("the mode of the file changed");
        }
    }
    // The readers see it whole.
    auto ui = std::make_shared<RecordingUi>();
    SetUi(ui);
    std::string folder = p.folder;
    std::string layer = kLayer;
    fzy_io_open(folder, layer);
    if (const std::string damage = FzyFileDamage(); !damage.empty()) {
        Bad(damage);
    }
    if (scenario != "new" && (!fzy_io_numberinfo("A") || !fzy_io_recordinfo("K", ""))) {
        Bad("a record the file held is not found");
    }
    if (scenario != "valid" && (changes > 0) != fzy_io_numberinfo(kNewField)) {
        Bad("the new record is not found");
    }
    fzy_io_close();
    if (!ui->messages().empty()) {
        Bad("a reader reported: " + ui->messages().front().prompt);
    }
    std::cout << changes << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: fzy_fault_driver setup|change|verify <scenario> <folder>\n";
        return 64;
    }
    const std::string command = argv[1];
    const std::string scenario = argv[2];
    const Paths paths = PathsOf(scenario, argv[3]);
    try {
        if (command == "setup") {
            Setup(scenario, paths);
            return 0;
        }
        if (command == "change") {
            return Change(scenario, paths);
        }
        if (command == "verify") {
            return Verify(scenario, paths);
        }
        if (command == "next") {
            const int changed = Change(scenario, paths);
            ResetFzyState();
            return changed != 0 ? changed : Verify(scenario, paths);
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 3;
    }
    std::cerr << "unknown command " << command << '\n';
    return 64;
}
