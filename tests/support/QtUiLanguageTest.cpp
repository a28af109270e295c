// Where the Qt UI services put their boxes and dialogs, and the language of
// Qt's own texts on them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "support/QtTestApp.h"
#include "support/QtUiServices.h"

namespace vark {
namespace {

struct SeenBox {
    QWidget* parent = nullptr;
    QString cancel;
};

/// Shows an OK/Cancel box with `ui` and reads it while it is open.
SeenBox ShowBox(QtUiServices& ui) {
    SeenBox seen;
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        seen.parent = box->parentWidget();
        seen.cancel = box->button(QMessageBox::Cancel)->text();
        box->button(QMessageBox::Cancel)->click();
    });
    EXPECT_EQ(ui.MsgBox("?", MsgIcon::Question, MsgButtons::OkCancel, "t"), MsgResult::Cancel);
    return seen;
}

TEST(QtUiServicesLanguage, BoxesFollowTheComponentLanguageAndGoOverTheParent) {
    test::EnsureQApplication();
    QWidget host;
    std::string language = "de";
    QtUiServices ui(&host, [&language] { return language; });

    SeenBox seen = ShowBox(ui);
    EXPECT_EQ(seen.parent, &host) << "no active window: the host's window is the parent";
    EXPECT_EQ(seen.cancel, QStringLiteral("Abbrechen"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"))
        << "the translation is taken away again with the box";

    for (const char* code : {"en", "xx", ""}) {
        language = code;
        EXPECT_EQ(ShowBox(ui).cancel, QStringLiteral("Cancel")) << code;
    }
    language = "de";
    EXPECT_EQ(ShowBox(ui).cancel, QStringLiteral("Abbrechen")) << "loaded once, used again";

    QtUiServices plain;
    EXPECT_EQ(ShowBox(plain).cancel, QStringLiteral("Cancel")) << "no language: Qt's own texts";
    EXPECT_EQ(ShowBox(plain).parent, nullptr);
}

TEST(QtUiServicesLanguage, FileDialogGoesOverTheParentInTheComponentLanguage) {
    test::EnsureQApplication();
    QWidget host;
    QtUiServices ui(&host, [] { return std::string("de"); });
    QWidget* parent = nullptr;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        parent = dialog->parentWidget();
        for (auto* button : dialog->findChildren<QPushButton*>()) buttons << button->text();
        dialog->reject();
    });
    EXPECT_EQ(ui.AskOpenFile("Titel", "Fichiers shape (*.shp)|*.shp", 1), std::nullopt);
    EXPECT_EQ(parent, &host);
    EXPECT_TRUE(buttons.contains(QStringLiteral("Abbrechen"))) << buttons.join(", ").toStdString();
}

}  // namespace
}  // namespace vark
