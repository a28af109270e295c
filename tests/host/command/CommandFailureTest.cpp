#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandFixture.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"

namespace vark::host::test {
namespace {

using Thrower = std::function<void()>;

class ThrowingApplication : public fake::FakeApplication {
public:
    std::shared_ptr<MapDocument> GetDocument() override {
        if (onGetDocument) onGetDocument();
        return FakeApplication::GetDocument();
    }
    Thrower onGetDocument;
};

class ThrowingDocument : public fake::FakeMapDocument {
public:
    void UnadviseDocumentEvents(DocumentEventsSink* sink) override {
        FakeMapDocument::UnadviseDocumentEvents(sink);
        if (onUnadvise) onUnadvise();
    }
    Thrower onUnadvise;
};

class ThrowingHook : public Hook {
public:
    bool IsApplication() const override { throw std::logic_error("hook is broken"); }
};

/// Labels of the recorded call-stack reports, read back from their texts.
std::vector<std::string> reportedLabels(const RecordingUi& ui) {
    const std::string head = "Error Call Stack Sequence \r\n\t";
    std::vector<std::string> labels;
    for (const UiCall& call : ui.messages()) {
        const auto at = call.prompt.find(head);
        if (at == std::string::npos) continue;
        const auto start = at + head.size();
        labels.push_back(call.prompt.substr(start, call.prompt.find(' ', start) + 1 - start));
    }
    return labels;
}

using CommandFailureTest = CommandFixture;

TEST_F(CommandFailureTest, AnyExceptionFromTheHostIsReportedAndNeverEscapes) {
    struct Case {
        const char* kind;
        Thrower thrower;
        std::int32_t number;
        std::string description;  // "" = whatever the conversion gives
    } cases[] = {
        {"Failure", [] { throw Failure(1234, "Layer gone"); }, 1234, "Layer gone"},
        {"std::exception", [] { throw std::runtime_error("disk on fire"); }, err::kUnexpected,
         "disk on fire"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, err::kUnexpected, ""},
        {"not an exception class", [] { throw 42; }, err::kUnexpected, ""},
    };
    for (const Case& c : cases) {
        m_ui->clear();
        auto app = std::make_shared<ThrowingApplication>();
        app->onGetDocument = c.thrower;
        clsRequeteText command;
        EXPECT_NO_THROW(command.OnCreate(app)) << c.kind;
        // Both slots fail and report; OnCreate itself goes on normally.
        EXPECT_EQ(reportedLabels(*m_ui),
                  (std::vector<std::string>{"SinkEventHandlers ", "SinkEventHandlers "}))
            << c.kind;
        EXPECT_EQ(g_pApplication(), app) << c.kind;
        EXPECT_EQ(m_ui->beepCount(), 2) << c.kind;
        for (const UiCall& message : m_ui->messages()) {
            EXPECT_EQ(message.title, "Unexpected Program Error");
            EXPECT_EQ(message.icon, MsgIcon::Exclamation);
            EXPECT_EQ(message.buttons, MsgButtons::Ok);
            EXPECT_NE(message.prompt.find("\t" + std::to_string(c.number) + "\r\n"),
                      std::string::npos)
                << c.kind;
            if (!c.description.empty()) {
                EXPECT_NE(message.prompt.find("Description\r\n\t" + c.description + "\r\n"),
                          std::string::npos)
                    << c.kind << ": " << message.prompt;
            }
        }
    }
}

TEST_F(CommandFailureTest, EachProcedureReportsUnderItsOwnLabel) {
    struct Case {
        const char* name;
        std::function<void(clsRequeteText&, ThrowingApplication&, ThrowingDocument&)> act;
        std::vector<std::string> labels;
    } cases[] = {
        {"click",
         [](clsRequeteText& c, ThrowingApplication&, ThrowingDocument&) {
             SetCriterionDialogEntry([] { throw Failure(7, "dialog failed to load"); });
             c.OnClick();
         },
         {"ICommand_OnClick "}},
        {"focus map changed",
         [](clsRequeteText& c, ThrowingApplication& a, ThrowingDocument&) {
             a.onGetDocument = [] { throw Failure(8, "no document"); };
             c.FocusMapChanged();
         },
         {"SinkEventHandlers "}},
        {"new document",
         [](clsRequeteText& c, ThrowingApplication& a, ThrowingDocument&) {
             a.onGetDocument = [] { throw std::runtime_error("no document"); };
             EXPECT_FALSE(c.NewDocument());
         },
         {"SinkEventHandlers "}},
        {"terminate",
         [](clsRequeteText& c, ThrowingApplication&, ThrowingDocument& d) {
             d.onUnadvise = [] { throw Failure(9, "cannot unsubscribe"); };
             c.Class_Terminate();
         },
         {"Class_Terminate "}},
        {"create",
         [](clsRequeteText& c, ThrowingApplication&, ThrowingDocument&) {
             c.OnCreate(std::make_shared<ThrowingHook>());
         },
         {"ICommand_OnCreate "}},
    };
    for (const Case& c : cases) {
        auto app = std::make_shared<ThrowingApplication>();
        auto document = std::make_shared<ThrowingDocument>();
        app->setDocument(document);
        auto map = document->focusMap();
        {
            clsRequeteText command;
            command.OnCreate(app);
            m_ui->clear();
            EXPECT_NO_THROW(c.act(command, *app, *document)) << c.name;
            EXPECT_EQ(reportedLabels(*m_ui), c.labels) << c.name;
            document->onUnadvise = nullptr;
        }
        // Whatever failed, the object leaves no source holding it.
        EXPECT_TRUE(document->documentSinks().empty()) << c.name;
        EXPECT_TRUE(map->viewSinks().empty()) << c.name;
        SetCriterionDialogEntry(nullptr);
    }
}

TEST_F(CommandFailureTest, LocationTextOfAClickWithoutLineNumber) {
    SetCriterionDialogEntry([] { throw Failure(5, "x"); });
    clsRequeteText command;
    command.OnClick();
    ASSERT_EQ(m_ui->messages().size(), 1u);
    EXPECT_NE(m_ui->messages()[0].prompt.find(
                  "Error Call Stack Sequence \r\n"
                  "\tICommand_OnClick C:\\Program Files\\Microsoft Visual Studio\\clsRequeteTexte "
                  "\r\n"),
              std::string::npos)
        << m_ui->messages()[0].prompt;
    EXPECT_EQ(CommandErrorLocation("SinkEventHandlers ", 12),
              "SinkEventHandlers C:\\Program Files\\Microsoft Visual Studio\\clsRequeteTexte "
              "Line : 12");
}

TEST_F(CommandFailureTest, MissingDocumentIsReportedNotDereferenced) {
    m_app->setDocument(nullptr);
    clsRequeteText command;
    command.OnCreate(m_app);
    // The document slot is already empty, so only the view slot needs the
    // document, and it fails as an unset reference.
    EXPECT_EQ(reportedLabels(*m_ui), std::vector<std::string>{"SinkEventHandlers "});
    ASSERT_EQ(m_ui->messages().size(), 1u);
    EXPECT_NE(m_ui->messages()[0].prompt.find("\t91\r\n"), std::string::npos);
    EXPECT_EQ(command.documentEvents(), nullptr);
    EXPECT_EQ(command.mapActiveViewEvents(), nullptr);
}

}  // namespace
}  // namespace vark::host::test
