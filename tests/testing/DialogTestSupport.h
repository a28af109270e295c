#pragma once

// Shared set-up of the dialog tests: a QApplication (offscreen), the
// recording UI services, an in-memory host installed as the application, a
// fresh dialog state and criterion-file state, the text store in French, and
// a temporary folder standing for the workspace of the layers (criterion
// files are written there).

#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "criterion_file/fzy_io.h"
#include "dialog/DialogState.h"
#include "dialog/frm_CritereTexte.h"
#include "host/HostState.h"
#include "host/fake/FakeHost.h"
#include "support/ErrorHandling.h"
#include "support/RecordingUi.h"
#include "testing/QtTestApp.h"
#include "testing/TempDir.h"
#include "text_store/clsResourceMDB.h"
#include "ui_frm_CritereTexte.h"

namespace vark::test {

using host::Value;
using host::fake::FakeApplication;
using host::fake::FakeFeatureClass;
using host::fake::FakeWorkspace;
using host::fake::MakeField;

/// The harness's environment (private settings folder, data folder) when the
/// test runner did not pass it on: set before the first settings access.
inline void EnsureTestEnvironment() {
    if (qEnvironmentVariableIsSet("VARK_TEST_DATA")) return;
    qputenv("VARK_TEST_DATA", VARK_DIALOG_TEST_DATA);
    qputenv("HOME", VARK_DIALOG_TEST_HOME);
    qputenv("XDG_CONFIG_HOME", VARK_DIALOG_TEST_HOME "/config");
}

inline std::vector<std::string> Texts(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}

/// Selects `row` (-1: nothing) and releases the mouse button over the list,
/// as a click on an entry does.
inline void ReleaseOver(QListWidget* list, int row) {
    if (row < 0) {
        list->clearSelection();
        list->setCurrentRow(-1);
    } else {
        list->setCurrentRow(row);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &release);
}

inline int RowOf(const QListWidget* list, const std::string& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().toStdString() == text) return i;
    }
    return -1;
}

/// Selects exactly the entries whose texts are given.
inline void SelectTexts(QListWidget* list, const std::vector<std::string>& texts) {
    list->clearSelection();
    for (const auto& t : texts) {
        const int row = RowOf(list, t);
        if (row >= 0) list->item(row)->setSelected(true);
    }
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestEnvironment();
        EnsureQApplication();
        ResetDialogState();
        ResetFzyState();
        ResetTextStoreState();
        m_ui->clear();
        errorLogState().logFile = m_dir.file("VARK_fuzzy.log");
        // Every test starts in French, the design language.
        gTextStore().setLanguageCode("fr");
        gTextStore().SaveLangSetting();
        m_app = std::make_shared<FakeApplication>();
        g_pApplication() = m_app;
        m_workspace = m_app->addWorkspace(m_dir.path().string());
        m_description = std::make_shared<DescriptionBuffer>();
        SetDescriptionTarget(m_description);
    }

    void TearDown() override {
        delete m_dialog.data();
        g_pApplication().reset();
        ResetFzyState();
        ResetDialogState();
        errorLogState().logFile.clear();
    }

    /// A polygon layer "parcelles" (FID, Shape, then `fields`) in the focus map.
    std::shared_ptr<FakeFeatureClass> AddLayer(const std::string& name,
                                               std::vector<host::Field> fields,
                                               std::int32_t shape = host::kShapePolygon) {
        auto fc = m_workspace->createFeatureClass(name, shape, std::move(fields));
        m_app->addFeatureLayer(name, fc);
        return fc;
    }

    /// The classic test layer: NATURE and CODE text fields, SURF double.
    std::shared_ptr<FakeFeatureClass> AddParcels(const std::vector<Value>& natures,
                                                 const std::string& name = "parcelles") {
        auto fc = AddLayer(
            name, {MakeField("NATURE", host::kFieldText), MakeField("CODE", host::kFieldText),
                   MakeField("SURF", host::kFieldDouble)});
        for (const auto& v : natures) fc->addRecord({{"NATURE", v}});
        return fc;
    }

    frm_CritereTexte& OpenDialog() {
        delete m_dialog.data();
        m_dialog = new frm_CritereTexte();
        return *m_dialog;
    }

    Ui::frm_CritereTexte& ui() { return m_dialog->ui(); }

    /// Chooses a layer and a field by their texts, as the user clicks them.
    void Choose(const std::string& layer, const std::string& field) {
        ReleaseOver(ui().Lst_shapes, RowOf(ui().Lst_shapes, layer));
        ReleaseOver(ui().Lst_fields, RowOf(ui().Lst_fields, field));
    }

    /// The error report shown by HandleError, "" when none was shown.
    std::string ErrorReport() const {
        for (const auto& m : m_ui->messages())
            if (m.title.rfind("Error#", 0) == 0) return m.prompt;
        return {};
    }

    std::vector<std::string> Prompts() const {
        std::vector<std::string> out;
        for (const auto& m : m_ui->messages()) out.push_back(m.prompt);
        return out;
    }

    static std::string Text(int n) { return gTextStore().ResourceString(n); }

    TempDir m_dir;
    ScopedRecordingUi m_ui;
    std::shared_ptr<FakeApplication> m_app;
    std::shared_ptr<FakeWorkspace> m_workspace;
    std::shared_ptr<DescriptionBuffer> m_description;
    QPointer<frm_CritereTexte> m_dialog;
};

}  // namespace vark::test
