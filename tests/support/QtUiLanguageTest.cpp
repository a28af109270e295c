// Where the Qt UI services put their boxes, and the language of Qt's own
// texts on them (the file dialog takes the same way: scripts/qgis-smoke
// checks its buttons inside QGIS).

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "support/QtUiServices.h"
#include "testing/QtTestApp.h"

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

}  // namespace
}  // namespace vark
