#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "criterion_file/CriterionFileRun.h"
#include "criterion_file/FzyFormat.h"
#include "criterion_file/fzy_io.h"
#include "support/Failure.h"
#include "testing/FzyTestSupport.h"
#include "text_store/clsResourceMDB.h"

namespace vark::test {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::int32_t FailureNumber(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& f) {
        return f.number();
    }
    return 0;
}

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

class FzyIo : public FzyTest {};

TEST_F(FzyIo, NewFileAndOneRecordGiveTheGoldenBytes) {
    std::string path = folder();
    std::string layer = "parcelles.shp";
    ASSERT_EQ(fzy_io_open(path, layer), 0);
    EXPECT_EQ(FzyState().OpenStatus, "New");
    const double before = fzy::OleDateNow();
    ASSERT_EQ(fzy_io_addrecord("FZY_TYPE", "FZY_TYPE", 999, 0, 0, 0, 0, "C:\\data", layer), 1);
    const double after = fzy::OleDateNow();
    ASSERT_EQ(fzy_io_close(), 1);

    const std::string bytes = ReadBytes(fzy("parcelles"));
    ASSERT_EQ(bytes.size(), 23u + 88u);
    EXPECT_EQ(bytes.substr(0, 23), Header(0, 1, 0));
    const std::string record = bytes.substr(23);
    const std::string expectedHead = I16(88) + I16(2) + Txt("FZY_TYPE") + I16(999) +
                                     Txt("FZY_TYPE") + std::string(32, '\0') + Txt("C:\\data") +
                                     Txt("parcelles");
    EXPECT_EQ(record.substr(0, expectedHead.size()), expectedHead);
    double created = 0;
    std::memcpy(&created, record.data() + expectedHead.size(), 8);
    EXPECT_GE(created, before);
    EXPECT_LE(created, after);
    EXPECT_EQ(record.substr(86), I16(99));
}

TEST_F(FzyIo, LaterRecordsGoToTheEndOfTheFile) {
    Open("parcelles");
    ASSERT_EQ(FzyState().OpenStatus, "New");
    ASSERT_EQ(fzy_io_addrecord("FZY_A", "FZY_A", 999, 0, 0, 0, 0, "/w", "parcelles"), 1);
    // Two appends in one open of a new file: the second lands after the
    // first, not over it.
    ASSERT_EQ(fzy_io_addrecord("FZY_B", "FZY_B", 999, 0, 0, 0, 0, "/w", "parcelles"), 1);
    EXPECT_EQ(FzyState().OpenStatus, "New");
    fzy_io_close();
    const std::string first = ReadBytes(fzy("parcelles"));

    // A later open finds the file ("Old") and appends at its end.
    Open("parcelles");
    EXPECT_EQ(FzyState().OpenStatus, "Old");
    EXPECT_EQ(FzyState().Kind2Count, 2);
    fzy_io_addrecord("FZY_C", "FZY_C", 999, 0, 0, 0, 0, "/w", "parcelles");
    EXPECT_EQ(FzyState().Kind2Count, 3);
    EXPECT_EQ(FzyState().Kind1Count, 0);
    fzy_io_close();

    const std::string bytes = ReadBytes(fzy("parcelles"));
    const std::size_t recordSize = 56 + 5 + 5 + 2 + 9;
    ASSERT_EQ(first.size(), 23 + 2 * recordSize);
    ASSERT_EQ(bytes.size(), first.size() + recordSize);
    EXPECT_EQ(bytes.substr(23, first.size() - 23), first.substr(23));
    EXPECT_EQ(bytes.substr(0, 8), I16(1) + I16(0) + I16(3) + I16(0));
    const fzy::FzyLayout layout = fzy::ReadFzyLayout(bytes);
    ASSERT_TRUE(layout.sound()) << layout.damage;
    ASSERT_EQ(layout.records.size(), 3u);
    EXPECT_EQ(fzy::RecordFieldName(bytes, layout.records[0]), "FZY_A");
    EXPECT_EQ(fzy::RecordFieldName(bytes, layout.records[1]), "FZY_B");
    EXPECT_EQ(fzy::RecordFieldName(bytes, layout.records[2]), "FZY_C");
}

TEST_F(FzyIo, FileNameRule) {
    struct Case {
        std::string layer;
        std::string stripped;
    };
    const Case cases[] = {
        {"parcelles.shp", "parcelles"},
        {"Parcelles", "Parcelles"},
        {"ROUTES.SHP", "ROUTES.SHP"},
        {"a.shp.shp", "a"},
        {"x.shpy.shp", "xy"},
        // One pass, as a text replacement: what the removal joins stays.
        {"a.s.shphp", "a.shp"},
    };
    for (const Case& c : cases) {
        std::string path = folder();
        std::string layer = c.layer;
        fzy_io_open(path, layer);
        EXPECT_EQ(layer, c.stripped) << c.layer;
        EXPECT_EQ(FzyState().path, fzy(c.stripped)) << c.layer;
        EXPECT_FALSE(fs::exists(fzy(c.stripped))) << c.layer << ": opening creates nothing";
        fzy_io_close();
    }
}

TEST_F(FzyIo, DatabaseAndUnplaceableWorkspaces) {
    WriteBytes(dir.file("roads.gpkg"), "db");
    WriteBytes(dir.file("rivers.gpkg"), "db");
    EXPECT_EQ(FzyFilePath(dir.file("roads.gpkg"), "parcelles"),
              dir.file("roads.gpkg.parcelles.fzy"));
    EXPECT_NE(FzyFilePath(dir.file("roads.gpkg"), "parcelles"),
              FzyFilePath(dir.file("rivers.gpkg"), "parcelles"));
    EXPECT_EQ(FzyFilePath(folder() + "/", "parcelles"), fzy("parcelles"));

    std::string db = dir.file("roads.gpkg");
    std::string layer = "parcelles";
    fzy_io_open(db, layer);
    EXPECT_EQ(FzyState().path, dir.file("roads.gpkg.parcelles.fzy"));
    EXPECT_EQ(ReadBytes(dir.file("roads.gpkg")), "db");
    fzy_io_close();

    struct Bad {
        std::string workspace;
        std::string layer;
        std::int32_t number;
    };
    const Bad bad[] = {
        {"PG:dbname=gis host=db.example", "parcelles", err::kPathNotFound},
        {dir.file("missing"), "parcelles", err::kPathNotFound},
        {"", "parcelles", err::kPathNotFound},
        {folder(), "", err::kBadFileNameOrNumber},
        {folder(), "../escape", err::kBadFileNameOrNumber},
    };
    const auto entriesBefore = std::distance(fs::directory_iterator(dir.path()), {});
    for (const Bad& b : bad) {
        std::string w = b.workspace;
        std::string l = b.layer;
        EXPECT_EQ(FailureNumber([&] { fzy_io_open(w, l); }), b.number) << b.workspace;
        EXPECT_EQ(FzyState().gFzyFile, 0);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), entriesBefore);
    EXPECT_FALSE(fs::exists(dir.path().parent_path() / "escape.fzy"));
}

TEST_F(FzyIo, OpenClosesTheFileLeftOpen) {
    WriteBytes(fzy("a"), Header(0, 0, 0));
    WriteBytes(fzy("b"), Header(0, 0, 0));
    Open("a");
    const int first = FzyState().gFzyFile;
    const int descriptors = OpenDescriptors();
    Open("b");
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_GT(FzyState().gFzyFile, first);
    EXPECT_EQ(FzyState().path, fzy("b"));
    fzy_io_close();
    EXPECT_EQ(OpenDescriptors(), descriptors - 1);
    EXPECT_EQ(fzy_io_close(), 1);  // closing twice is harmless
}

TEST_F(FzyIo, ShortFilesWithoutRecordsAreCompletedAsNew) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"eight bytes left by a peer", I16(1) + I16(0) + I16(0) + I16(0)},
        {"bare header, odd mark", I16(7) + std::string(21, '\0')},
        {"unused bytes set", Header(0, 0, 0).substr(0, 12) + "uuu"},
    };
    for (const Case& c : cases) {
        WriteBytes(fzy("p"), c.bytes);
        Open("p");
        EXPECT_EQ(FzyState().OpenStatus, "New") << c.name;
        fzy_io_addrecord("F", "F", 999, 0, 0, 0, 0, "/w", "p");
        fzy_io_close();
        const std::string bytes = ReadBytes(fzy("p"));
        std::string header = Header(0, 1, 0);
        if (c.bytes.size() > 8) {  // the family's tools keep the unused bytes
            header.replace(8, c.bytes.size() - 8, c.bytes.substr(8));
        }
        EXPECT_EQ(bytes.substr(0, 23), header) << c.name;
        EXPECT_EQ(bytes.size(), 23u + 56 + 1 + 1 + 2 + 1) << c.name;
    }
}

TEST_F(FzyIo, TextsAreWindows1252OnDisk) {
    Open("p");
    // é and € have a byte in the code page; Ω has none and is stored as "?".
    fzy_io_addrecord("Pré€Ω", "a", 999, 0, 0, 0, 0, "/w", "p");
    EXPECT_EQ(fzy_io_readchars(2, 28), std::string("\x05\0", 2));
    EXPECT_EQ(fzy_io_readchars(5, 30), "Pré€?");
    EXPECT_EQ(ReadBytes(fzy("p")).substr(29, 5), "Pr\xE9\x80?");
    EXPECT_EQ(fzy_io_readchars(0, 30), "");
    EXPECT_EQ(fzy_io_readchars(0, 1), "");
    EXPECT_EQ(FailureNumber([] { fzy_io_readchars(200, 30); }), fzy::kDamagedFileError);
    EXPECT_EQ(FailureNumber([] { fzy_io_readchars(-1, 30); }), err::kInvalidProcedureCall);
    fzy_io_close();
    EXPECT_EQ(FailureNumber([] { fzy_io_readchars(1, 1); }), err::kBadFileNameOrNumber);
}

TEST_F(FzyIo, PositionLimitIsCheckedBeforeWriting) {
    // A new record of 56 + 1 + 1 + 1 + 1 = 60 bytes; the file's end must stay
    // a 16-bit position: size + 60 + 1 <= 32767.
    struct Case {
        std::size_t fileSize;
        bool fits;
    };
    const Case cases[] = {{32706, true}, {32707, false}, {32766, false}};
    for (const Case& c : cases) {
        const std::size_t pad = c.fileSize - 23 - 65;  // one filler record of 65 + pad bytes
        const std::string file =
            Header(0, 1, 0) +
            Record(2, Kind2Body("FILL", "FILL", std::string(pad, 'x'), "p", 45000.0));
        ASSERT_EQ(file.size(), c.fileSize);
        WriteBytes(fzy("p"), file);
        Open("p");
        const std::int32_t number =
            FailureNumber([] { fzy_io_addrecord("F", "F", 999, 0, 0, 0, 0, "w", "p"); });
        fzy_io_close();
        if (c.fits) {
            EXPECT_EQ(number, 0) << c.fileSize;
            EXPECT_EQ(ReadBytes(fzy("p")).size(), c.fileSize + 60);
        } else {
            EXPECT_EQ(number, err::kOverflow) << c.fileSize;
            EXPECT_EQ(ReadBytes(fzy("p")), file) << c.fileSize;
        }
    }
    // A text too long for its 16-bit count.
    fs::remove(fzy("p"));
    Open("p");
    const std::string huge(40000, 'x');
    EXPECT_EQ(FailureNumber([&] { fzy_io_addrecord(huge, "F", 999, 0, 0, 0, 0, "w", "p"); }),
              err::kOverflow);
    fzy_io_close();
    EXPECT_FALSE(fs::exists(fzy("p")));
}

TEST_F(FzyIo, ReadOnlyFileCanBeReadButNotWritten) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    const std::string file = Header(0, 1, 0) + Kind2("F");
    WriteBytes(fzy("p"), file);
    fs::permissions(fzy("p"), fs::perms::owner_read);
    Open("p");
    EXPECT_TRUE(FzyState().readOnly);
    EXPECT_TRUE(fzy_io_numberinfo("F"));
    EXPECT_EQ(FailureNumber([] { fzy_io_addrecord("G", "G", 999, 0, 0, 0, 0, "w", "p"); }),
              err::kPermissionDenied);
    fzy_io_close();
    EXPECT_EQ(ReadBytes(fzy("p")), file);
}

// ---- Readers

std::string Words(int n) {
    return "<" + std::to_string(n) + ">";
}

TEST_F(FzyIo, DescriptionTexts) {
    fzy::Kind2Record r2;
    r2.fieldName = "FZY_TYPE";
    r2.alias = "Alias";
    r2.code = 999;
    r2.Val_b = 0.5;
    r2.Val_c = -2.25;
    r2.Val_d = 1e20;
    r2.workspacePath = "/data";
    r2.layerName = "parcelles";
    r2.created = 45306.5;  // 15 January 2024, noon
    EXPECT_EQ(DescribeKind2(r2, Words),
              "<147> FZY_TYPE(<148> :Alias) <154> 999 <154> :\r\n"
              " Val_a = 0\r\n Val_b = 0.5\r\n Val_c = -2.25\r\n Val_d = 1E+20\r\n"
              "<152> /data/parcelles <156> 2024-01-15 12:00:00");

    fzy::Kind1Record r1;
    r1.fieldName = "SLOPE";
    r1.N = 3;
    r1.T = {"T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "T9"};
    r1.date = 45306.0;
    EXPECT_EQ(DescribeKind1(r1, Words),
              "<147> SLOPE (<148> :T1) <149> : \r\n"
              "T4 (<150> T5/T6)\r\n"
              "<151> \r\n"
              "T7 (<150> T8/T9).\r\n"
              " <152> 3 <156> 2024-01-15");
}

TEST_F(FzyIo, ReadersSkipOtherKindsAndTakeTheFirstMatch) {
    std::array<std::string, 9> t = {"alias1", "x", "x", "src", "/in", "dem", "c2", "/in2", "d2"};
    const std::string file = Header(3, 4, 2) + Kind1("F", "gone", 11) + Kind2("F", "deleted", 12) +
                             Kind2("G", "other") + Record(1, Kind1Body("F", 4, t, 45306.25)) +
                             Kind1("F", "second") + Kind2("F", "first") + Kind2("F", "second");
    WriteBytes(fzy("p"), file);
    Open("p");
    const auto text = [](int n) { return gTextStore().ResourceString(n); };

    ASSERT_TRUE(fzy_io_numberinfo("F"));
    fzy::Kind2Record expected2;
    expected2.fieldName = "F";
    expected2.alias = "first";
    expected2.code = 999;
    expected2.workspacePath = "/data";
    expected2.layerName = "parcelles";
    expected2.created = 45306.5;
    const auto& buffer = dynamic_cast<const DescriptionBuffer&>(CurrentDescriptionTarget());
    EXPECT_EQ(buffer.text(), DescribeKind2(expected2, text));

    ASSERT_TRUE(fzy_io_recordinfo("F", ""));
    fzy::Kind1Record expected1;
    expected1.fieldName = "F";
    expected1.N = 4;
    expected1.T = t;
    expected1.date = 45306.25;
    EXPECT_EQ(buffer.text(), DescribeKind1(expected1, text));

    EXPECT_FALSE(fzy_io_numberinfo("f"));  // exact comparison
    EXPECT_FALSE(fzy_io_recordinfo("G", ""));
    EXPECT_FALSE(fzy_io_recordinfo("", ""));
    EXPECT_TRUE(Messages().empty());

    fzy_io_showinfo();
    EXPECT_EQ(buffer.shown(), 1);
    fzy_io_close();
    EXPECT_EQ(ReadBytes(fzy("p")), file);
}

// Recomputing a field: its live records (either kind, its name compared as
// stored: "Fêt" in Windows-1252) marked deleted and the new record appended
// in one write, the other records byte for byte as they were; put back as
// it was (or removed when there was none) when the layer's change fails.
TEST_F(FzyIo, ReplacingARecordMarksTheOldOnesAndCanBePutBack) {
    const std::string before = Header(1, 3, 0) + Kind2("F\xEAt", "old") + Kind1("F\xEAt") +
                               Kind2("F\xEAt", "gone", 12) + Kind2("G", "other");
    for (const bool existed : {true, false}) {
        if (existed) {
            WriteBytes(fzy("p"), before);
        } else {
            fs::remove(fzy("p"));
        }
        CriterionFileRun run(folder(), "p", [](const std::string&) { return true; });
        run.ReplaceTextCriterion("Fêt");
        const std::string after = ReadBytes(fzy("p"));
        if (existed) {
            const std::string marked = Header(1, 4, 2) + Kind2("F\xEAt", "old", 12) +
                                       Kind1("F\xEAt", "t", 11) + Kind2("F\xEAt", "gone", 12) +
                                       Kind2("G", "other");
            EXPECT_EQ(after.substr(0, marked.size()), marked);
            EXPECT_EQ(after.substr(marked.size() + 2, 7), I16(2) + Txt("F\xEAt"));
        }
        Open("p");
        EXPECT_TRUE(fzy_io_numberinfo("Fêt"));
        EXPECT_FALSE(fzy_io_recordinfo("Fêt", ""));
        fzy_io_close();
        run.RestoreTextCriterion();
        EXPECT_EQ(fs::exists(fzy("p")), existed);
        if (existed) {
            EXPECT_EQ(ReadBytes(fzy("p")), before);
        }
    }
}

TEST_F(FzyIo, ReaderReportsARecordWhoseBodyDoesNotFit) {
    // The frame is sound (the walk goes on), but the matching kind-2 record
    // ends right after its name.
    const std::string file = Header(1, 1, 0) + Record(2, Txt("F")) + Record(1, Txt("K") + I16(1));
    WriteBytes(fzy("p"), file);
    Open("p");
    EXPECT_FALSE(fzy_io_numberinfo("F"));
    EXPECT_FALSE(fzy_io_recordinfo("K", ""));
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_THAT(messages[0], StartsWith("62  "));
    EXPECT_THAT(messages[0], EndsWith(" fzy_io_numberinfo Debug=4"));
    EXPECT_THAT(messages[1], EndsWith(" fzy_io_recordinfo Debug=4"));
    // Appending is still allowed: the file's structure is intact.
    EXPECT_EQ(fzy_io_addrecord("G", "G", 999, 0, 0, 0, 0, "w", "p"), 1);
    fzy_io_close();
}

TEST_F(FzyIo, ReadersWithoutAnOpenFileReportIt) {
    EXPECT_FALSE(fzy_io_numberinfo("F"));
    EXPECT_FALSE(fzy_io_recordinfo("F", ""));
    EXPECT_THAT(Messages(),
                ::testing::ElementsAre(StartsWith("52  No criterion file is open fzy_io_numberinfo "
                                                  "Debug=1"),
                                       EndsWith(" fzy_io_recordinfo Debug=1")));
}

TEST_F(FzyIo, DescriptionTargetCanBeReplaced) {
    class Window : public DescriptionTarget {
    public:
        void SetInfoText(const std::string& text) override { texts.push_back(text); }
        void Show() override { ++shows; }
        std::vector<std::string> texts;
        int shows = 0;
    };
    auto window = std::make_shared<Window>();
    SetDescriptionTarget(window);
    WriteBytes(fzy("p"), Header(0, 1, 0) + Kind2("F"));
    Open("p");
    ASSERT_TRUE(fzy_io_numberinfo("F"));
    fzy_io_close();
    fzy_io_showinfo();
    EXPECT_EQ(window->texts.size(), 1u);
    EXPECT_EQ(window->shows, 1);
    const auto previous = SetDescriptionTarget(nullptr);
    EXPECT_EQ(previous.get(), window.get());
    EXPECT_NE(dynamic_cast<DescriptionBuffer*>(&CurrentDescriptionTarget()), nullptr);
}

}  // namespace
}  // namespace vark::test
