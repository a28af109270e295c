// The description window and the way the command shows the dialog.

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "dialog/frm_display_fzy.h"
#include "host/DialogEntry.h"
#include "testing/DialogTestSupport.h"
#include "ui_frm_display_fzy.h"

namespace vark::test {
namespace {

/// Runs `action` once the next modal event loop is running.
void WhenShown(std::function<void()> action) {
    QTimer::singleShot(0, [action = std::move(action)] { action(); });
}

class DisplayTest : public DialogTest {};

TEST_F(DisplayTest, WindowLoadsItsCaptionsAndShowsLines) {
    InitLanguage();
    frm_display_fzy window;
    EXPECT_EQ(window.windowTitle().toStdString(), Text(169));
    EXPECT_EQ(window.ui().cmdQuit->text().toStdString(), Text(170));
    auto* box = window.ui().Txt_infofield;
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    window.setInfoText("Champ FZY_A\r\n Val_a = 0\r\n");
    EXPECT_EQ(box->document()->blockCount(), 3);
    EXPECT_EQ(window.infoText(), "Champ FZY_A\n Val_a = 0\n");
}

TEST_F(DisplayTest, WindowOpensWithAnEmptyTextStore) {
    ResetTextStoreState();
    frm_display_fzy window;
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_TRUE(window.ui().cmdQuit->text().isEmpty());
}

TEST_F(DisplayTest, TargetShowsModallyAndStartsEmptyAfterAClose) {
    InitLanguage();
    QtDescriptionTarget target;
    target.SetInfoText("première description");
    QPointer<frm_display_fzy> first = target.instance();
    ASSERT_FALSE(first.isNull());

    std::vector<std::string> seen;
    auto closeWithQuit = [&] {
        auto* w = target.instance();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isModal());
        EXPECT_TRUE(w->isVisible());
        seen.push_back(w->infoText());
        w->ui().cmdQuit->click();
    };
    WhenShown(closeWithQuit);
    target.Show();
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(target.instance(), nullptr);

    WhenShown(closeWithQuit);
    target.Show();
    EXPECT_EQ(seen, (std::vector<std::string>{"première description", ""}));
}

class EntryTest : public DialogTest {};

TEST_F(EntryTest, CommandShowsTheSharedDialogModallyAndClosingUnloadsIt) {
    AddParcels({"Forêt"});
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "exit button");
        QPointer<frm_CritereTexte> shown;
        WhenShown([&] {
            shown = DialogState().instance;
            ASSERT_FALSE(shown.isNull());
            EXPECT_TRUE(shown->isModal());
            EXPECT_TRUE(shown->isVisible());
            EXPECT_EQ(shown->parentWidget(), nullptr);
            EXPECT_EQ(Texts(shown->ui().Lst_shapes), std::vector<std::string>{"parcelles"});
            if (closeBox)
                shown->close();
            else
                shown->ui().cmd_sortie->click();
        });
        ShowCriterionDialog();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(shown.isNull());
        EXPECT_TRUE(DialogState().instance.isNull());
        EXPECT_NE(dynamic_cast<QtDescriptionTarget*>(&CurrentDescriptionTarget()), nullptr);
    }
    SetDescriptionTarget(nullptr);
}

}  // namespace
}  // namespace vark::test
