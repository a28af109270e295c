#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <stdexcept>

#include "support/QtUiServices.h"
#include "support/RecordingUi.h"
#include "testing/QtTestApp.h"

namespace vark {
namespace {

TEST(RecordingUi, RecordsCallsAndAnswersFromTheScript) {
    ScopedRecordingUi ui;
    ui->msgBoxAnswers = {MsgResult::No};
    ui->openFileAnswers = {std::string("/data/roads.shp")};
    EXPECT_EQ(Ui().MsgBox("Delete?", MsgIcon::Question, MsgButtons::YesNo, "t"), MsgResult::No);
    EXPECT_EQ(Ui().MsgBox("Again?", MsgIcon::Question, MsgButtons::YesNo), MsgResult::Yes);
    EXPECT_EQ(Ui().AskOpenFile("Pick", "A|*.a", 1), std::optional<std::string>("/data/roads.shp"));
    EXPECT_EQ(Ui().AskOpenFile("Pick", "A|*.a", 1), std::nullopt);  // script empty: cancelled
    ASSERT_EQ(ui->calls.size(), 4u);
    EXPECT_EQ(ui->calls[0].prompt, "Delete?");
    EXPECT_EQ(ui->calls[0].title, "t");
    EXPECT_EQ(ui->calls[2].kind, UiCallKind::AskOpenFile);
    EXPECT_EQ(ui->calls[2].filter, "A|*.a");
    EXPECT_EQ(ui->messages().size(), 2u);
}

TEST(RecordingUi, InstallsAndRestoresThePreviousServices) {
    UiServices* before = &Ui();
    {
        ScopedRecordingUi ui;
        EXPECT_EQ(&Ui(), &*ui);
    }
    EXPECT_EQ(&Ui(), before);
}

TEST(BusyPointer, RestoredOnEveryWayOut) {
    ScopedRecordingUi ui;
    try {
        BusyPointer outer;
        {
            BusyPointer inner;
            EXPECT_EQ(ui->busyDepth, 2);
        }
        throw std::runtime_error("stop");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(ui->busyDepth, 0);
    EXPECT_EQ(ui->maxBusyDepth, 2);
    EXPECT_EQ(ui->unmatchedBusyOff, 0);
}

TEST(QtFileFilter, ConvertsToQtForm) {
    struct Case {
        std::string filter;
        int index;
        std::string qt, selected;
    } cases[] = {
        {"Fichiers shape (*.shp)|*.shp|Tous les fichiers (*.*)|*.*", 1,
         "Fichiers shape (*.shp);;Tous les fichiers (*.*)", "Fichiers shape (*.shp)"},
        {"Fichiers shape (*.shp)|*.shp|Tous les fichiers (*.*)|*.*", 2,
         "Fichiers shape (*.shp);;Tous les fichiers (*.*)", "Tous les fichiers (*.*)"},
        {"Shapes|*.shp;*.SHP|Tables|*.dbf", 9, "Shapes (*.shp *.SHP);;Tables (*.dbf)",
         "Shapes (*.shp *.SHP)"},
        {"Lonely", 1, "Lonely", "Lonely"},
        {"", 1, "", ""},
    };
    for (const auto& c : cases) {
        std::string selected;
        EXPECT_EQ(QtFileFilter(c.filter, c.index, &selected), c.qt) << c.filter;
        EXPECT_EQ(selected, c.selected) << c.filter;
    }
}

TEST(QtUiServices, BusyPointerNestsOverrideCursors) {
    test::EnsureQApplication();
    QtUiServices qt;
    qt.SetBusyPointer(true);
    qt.SetBusyPointer(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    qt.SetBusyPointer(false);
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    qt.SetBusyPointer(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    qt.SetBusyPointer(false);  // unmatched: ignored, nothing else restored
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtUiServices, MessageBoxShowsPlainTextWithLineBreaks) {
    test::EnsureQApplication();
    QtUiServices qt;
    struct Seen {
        QString text, title;
        Qt::TextFormat format = Qt::AutoText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
    } seen;
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = {box->text(), box->windowTitle(), box->textFormat(), box->icon(),
                static_cast<int>(box->buttons().size())};
        box->button(QMessageBox::No)->click();
    });
    const MsgResult answer =
        qt.MsgBox("<b>1 < 2</b>\r\nsecond line", MsgIcon::Question, MsgButtons::YesNo, "Titre é");
    EXPECT_EQ(answer, MsgResult::No);
    EXPECT_EQ(seen.text, "<b>1 < 2</b>\nsecond line");
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.title, "Titre é");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, 2);
}

}  // namespace
}  // namespace vark
