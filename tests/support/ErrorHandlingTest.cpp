#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/ErrorHandling.h"
#include "support/LibraryInfo.h"
#include "support/RecordingUi.h"
#include "testing/TempDir.h"

namespace vark {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Points the error log at a private folder for the length of a test.
class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = errorLogState();
        errorLogState().logFile = m_dir.file("VARK_fuzzy.log");
        errorLogState().fallbackLogFile = m_dir.file("state/VARK_fuzzy/VARK_fuzzy.log");
    }
    void TearDown() override { errorLogState() = m_saved; }

    test::TempDir m_dir;
    ScopedRecordingUi m_ui;
    ErrorLogState m_saved;
};

TEST(CallStackReport, LinesAreExact) {
    EXPECT_EQ(FormatErrorLine(0), "");
    EXPECT_EQ(FormatErrorLine(12), "Line : 12");
    EXPECT_EQ(FormatErrorLine(-3), "Line : -3");

    const std::string location =
        "ICommand_OnClick C:\\Program Files\\Microsoft Visual Studio\\clsRequeteTexte ";
    EXPECT_EQ(BuildCallStackReport(location, -2147221504, ""),
              "An error has occured in the application.   Record the call stack sequence\r\n"
              "and the description of the error.\r\n"
              "\r\n"
              "Error Call Stack Sequence \r\n"
              "\t" +
                  location +
                  "\r\n"
                  "\r\n"
                  "Error Number \r\n"
                  "\t-2147221504\r\n"
                  "Description\r\n"
                  "\t\r\n"
                  "\r\n");
}

TEST(CallStackReport, BeepsThenShowsOneWarning) {
    ScopedRecordingUi ui;
    ReportError("OnClick ", 91, "Object variable not set");
    ASSERT_EQ(ui->calls.size(), 2u);
    EXPECT_EQ(ui->calls[0].kind, UiCallKind::Beep);
    const UiCall& box = ui->calls[1];
    EXPECT_EQ(box.kind, UiCallKind::MsgBox);
    EXPECT_EQ(box.title, "Unexpected Program Error");
    EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
    EXPECT_EQ(box.prompt, BuildCallStackReport("OnClick ", 91, "Object variable not set"));
}

TEST(ErrorText, LayoutWithAndWithoutLineNumber) {
    const std::string exe = "Exe:" + JoinPath(LibraryFolder(), "VARK_fuzzy") + "\r\n";
    const std::regex dateLine(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} VARK_fuzzy v10\.3\.2)");
    struct Case {
        std::int32_t line;
        std::string errorLine;
    } cases[] = {
        {0, "Error#-7 in frm(src) - cmd_go_Click\r\n"},
        {120, "Error#-7 in frm(src) - cmd_go_Click at Line#120\r\n"},
        {-4, "Error#-7 in frm(src) - cmd_go_Click at Line#-4\r\n"},
    };
    for (const auto& c : cases) {
        const std::string text =
            BuildErrorText("-7", "What went wrong", "frm(src)", "cmd_go_Click", c.line, "Debug=41");
        ASSERT_EQ(text.substr(0, 2), "\r\n");
        const auto dateEnd = text.find("\r\n", 2);
        ASSERT_NE(dateEnd, std::string::npos);
        EXPECT_TRUE(std::regex_match(text.substr(2, dateEnd - 2), dateLine))
            << text.substr(2, dateEnd - 2);
        EXPECT_EQ(text.substr(dateEnd + 2),
                  c.errorLine + exe + "What went wrong\r\n\r\nDebug=41\r\n");
    }
}

TEST_F(ErrorLogTest, NumberZeroDoesNothing) {
    EXPECT_EQ(HandleError(Failure(0, "x", "y"), "frm", "p", true, 0, "", 0, true), "");
    EXPECT_TRUE(m_ui->calls.empty());
    EXPECT_FALSE(std::filesystem::exists(ErrorLogFile()));
}

TEST_F(ErrorLogTest, ShownReportIsTheLoggedReport) {
    const Failure failure(53, "File not found", "fzy_io");
    const std::string result =
        HandleError(failure, "frm_CritereTexte", "cmd_go_Click", true, 0, "Debug=2", 0, true);
    EXPECT_NE(result.find("\r\nError#53 in frm_CritereTexte(fzy_io) - cmd_go_Click\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(ErrorLogFile()), result + "\r\n");

    const auto boxes = m_ui->messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, result);
    EXPECT_EQ(boxes[0].title, "Error#53 - fzy_io");
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);
}

TEST_F(ErrorLogTest, SilentMarkerGoesToTheLogOnly) {
    const std::string result =
        HandleError(Failure(-1, "quiet", "s"), "m", "p", false, 7, "", 0, true);
    EXPECT_EQ(result.rfind("\r\n", 0), 0u) << "result must start with the report's CR LF";
    EXPECT_EQ(ReadFile(ErrorLogFile()), "(Silent Error) : " + result + "\r\n");
    EXPECT_TRUE(m_ui->calls.empty());
}

TEST_F(ErrorLogTest, EntriesAreAppendedNeverRewritten) {
    const std::string first = HandleError(Failure(1, "a", "s"), "m", "p", false, 0, "", 0, true);
    const std::string second = HandleError(Failure(2, "b", "s"), "m", "p", false, 0, "", 0, true);
    EXPECT_EQ(ReadFile(ErrorLogFile()),
              "(Silent Error) : " + first + "\r\n" + "(Silent Error) : " + second + "\r\n");
    // Without writeLog nothing is written.
    HandleError(Failure(3, "c", "s"), "m", "p", false, 0, "", 0, false);
    EXPECT_EQ(ReadFile(ErrorLogFile()).find("Error#3"), std::string::npos);
}

TEST_F(ErrorLogTest, UnwritableLogFallsBackToThePerUserLog) {
    // A log whose folder is a plain file cannot be created, even by root.
    std::ofstream(m_dir.file("not-a-folder")) << "x";
    errorLogState().logFile = m_dir.file("not-a-folder/VARK_fuzzy.log");
    WriteErrorLog("entry one");
    WriteErrorLog("entry two");
    EXPECT_EQ(ReadFile(FallbackErrorLogFile()), "entry one\r\nentry two\r\n");

    // And when the fallback cannot be written either, nothing escapes.
    errorLogState().fallbackLogFile = m_dir.file("not-a-folder/fallback.log");
    WriteErrorLog("lost");
}

TEST(ErrorLogPaths, BesideTheLibraryAndPerUserFallback) {
    const ErrorLogState saved = errorLogState();
    errorLogState() = {};
    EXPECT_EQ(ErrorLogFile(), JoinPath(LibraryFolder(), "VARK_fuzzy.log"));
    // Computed once: a cached path is kept as it is.
    errorLogState().logFile = "/elsewhere/VARK_fuzzy.log";
    EXPECT_EQ(ErrorLogFile(), "/elsewhere/VARK_fuzzy.log");

    const char* oldState = std::getenv("XDG_STATE_HOME");
    const std::string keep = oldState ? oldState : "";
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("XDG_STATE_HOME", "/state", 1);
    errorLogState().fallbackLogFile.clear();
    EXPECT_EQ(FallbackErrorLogFile(), "/state/VARK_fuzzy/VARK_fuzzy.log");
    setenv("XDG_STATE_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/u", 1);
    errorLogState().fallbackLogFile.clear();
    EXPECT_EQ(FallbackErrorLogFile(), "/home/u/.local/state/VARK_fuzzy/VARK_fuzzy.log");
    if (oldState) {
        setenv("XDG_STATE_HOME", keep.c_str(), 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }
    setenv("HOME", oldHome.c_str(), 1);
    errorLogState() = saved;
}

}  // namespace
}  // namespace vark
