// The text-criterion dialog's handlers that run work on the chosen layer:
// the computation, the description of a criterion field, the opening of a
// shapefile, the interface language and the window's closing.

#include <QCoreApplication>
#include <QDateTime>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <optional>
#include <string>
#include <vector>

#include "criterion/CriterionComputation.h"
#include "criterion/CriterionRun.h"
#include "criterion/CriterionUseCases.h"
#include "criterion_file/fzy_io.h"
#include "dialog/DialogState.h"
#include "dialog/DialogSupport.h"
#include "dialog/frm_CritereTexte.h"
#include "dialog/requeteur.h"
#include "host/HostState.h"
#include "host/host.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"
#include "support/UiServices.h"
#include "text_store/FormText.h"
#include "text_store/TextNumbers.h"
#include "text_store/clsResourceMDB.h"
#include "ui_frm_CritereTexte.h"

namespace vark {

using namespace dialog;

namespace {

/// The user chose not to compute with graded values no feature holds.
struct UnmatchedDeclined {};

/// Asks whether to compute although no feature of the layer `layerName`
/// holds `values`, naming each of them.
bool ComputeDespiteUnmatched(const std::string& layerName, const std::vector<std::string>& values) {
    std::string prompt = ResourceString(text::kUnmatchedInLayer);
    if (const std::size_t at = prompt.find("%1"); at != std::string::npos) {
        prompt.replace(at, 2, layerName);
    }
    for (const std::string& value : values) {
        prompt += "\r\n    " + (value.empty() ? ResourceString(text::kEmptyText) : value);
    }
    prompt += "\r\n\r\n" + ResourceString(text::kComputeAnyway);
    return Ui().MsgBox(prompt, MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes;
}

constexpr const char* kUndefinedGradesFallback =
    "Ces valeurs ont un niveau que l'échelle choisie n'offre pas ; notez-les de nouveau :";

constexpr qint64 kProgressPaintMs = 100;

/// Closes the criterion file on every way out of the computation that
/// opened it and did not close it.
class CriterionFileGuard {
public:
    CriterionFileGuard() = default;
    ~CriterionFileGuard() { close(); }
    CriterionFileGuard(const CriterionFileGuard&) = delete;
    CriterionFileGuard& operator=(const CriterionFileGuard&) = delete;
    void opened() { m_open = true; }
    void closedByCallee() { m_open = false; }
    void close() noexcept {
        if (m_open) {
            m_open = false;
            try {
                fzy_io_close();
            } catch (...) {
                // The error that brought us here is the one to report.
            }
        }
    }

private:
    bool m_open = false;
};

/// Disables the window's controls (not the progress bar) while the
/// computation runs, and enables them again on every way out.
class ControlsDisabled {
public:
    ControlsDisabled(QWidget& window, QWidget* keep) {
        for (auto* w : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (w != keep && w->isEnabled()) {
                w->setEnabled(false);
                m_disabled.push_back(w);
            }
        }
    }
    ~ControlsDisabled() {
        for (auto& w : m_disabled) {
            if (w) {
                w->setEnabled(true);
            }
        }
    }
    ControlsDisabled(const ControlsDisabled&) = delete;
    ControlsDisabled& operator=(const ControlsDisabled&) = delete;

private:
    std::vector<QPointer<QWidget>> m_disabled;
};

}  // namespace

// ---------------------------------------------------------------------------
// Computation

void frm_CritereTexte::OnComputationProgress(std::int64_t done, std::int64_t total) {
    QProgressBar* bar = m_ui->progressRun;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_lastProgressPaint < kProgressPaintMs) {
        return;
    }
    m_lastProgressPaint = now;
    if (!bar->isVisible()) {
        bar->setVisible(true);
    }
    if (total > 0) {
        bar->setRange(0, 1000);
        bar->setValue(static_cast<int>(std::min<std::int64_t>(done, total) * 1000 / total));
    } else {
        bar->setRange(0, 0);
    }
    // Repaint only: input stays with nobody until the run ends.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void frm_CritereTexte::cmd_go_Click() {
    if (m_running) {
        return;
    }
    std::int32_t marker = 1;
    std::optional<BusyPointer> busy;
    try {
        const QListWidgetItem* sourceItem = SelectedItem(m_ui->Lst_fields);
        if (sourceItem == nullptr) {
            Ui().MsgBox(ResourceString(text::kNoSourceField), MsgIcon::Critical);
            return;
        }
        const std::string sourceField = ToStd(sourceItem->text());

        auto& state = DialogState();
        std::vector<std::string> entries;
        entries.reserve(static_cast<std::size_t>(m_ui->ListValuesSortie->count()));
        for (int k = 0; k < m_ui->ListValuesSortie->count(); ++k) {
            entries.push_back(ToStd(m_ui->ListValuesSortie->item(k)->text()));
        }
        std::vector<GradedEntry> graded = LoadGradedEntries(entries);
        state.gValueCount = 0;
        for (std::size_t k = 0; k < graded.size(); ++k) {
            state.gValueTexts[k] = graded[k].value;
            state.gValueGrades[k] = static_cast<float>(graded[k].grade);
            ++state.gValueCount;
        }

        const MembershipScale scale = m_ui->Option3->isChecked()   ? MembershipScale::Seven
                                      : m_ui->Option2->isChecked() ? MembershipScale::Five
                                                                   : MembershipScale::Three;
        // A grade ticked under another scale has no degree here: refuse the
        // run before anything is written rather than guess one.
        const auto undefined = UndefinedGradeValues(graded, scale);
        if (!undefined.empty()) {
            std::string prompt = ResourceString(text::kUndefinedGrades);
            if (prompt.empty()) {
                prompt = kUndefinedGradesFallback;
            }
            for (const auto& value : undefined) {
                prompt += "\r\n";
                prompt += value;
            }
            Ui().MsgBox(prompt, MsgIcon::Critical);
            return;
        }

        busy.emplace();
        // The criterion file is named after the layer without ".shp"; the
        // choice keeps that name from here on.
        state.gLayerName = CriterionFileLayerName(state.gLayerName);
        const auto application = App();
        auto document = Require(application->GetDocument(), "document");
        auto map = Require(document->GetFocusMap(), "focus map");
        auto featureLayer = Require(
            std::dynamic_pointer_cast<host::FeatureLayer>(map->GetMapLayer(state.gLayerIndex)),
            "feature layer");
        const auto featureClass = Require(featureLayer->GetFeatureClass(), "feature class");
        const CriterionTarget target = ResolveTarget(featureClass, state.gLayerName);
        // An entry listed from this very layer matches the bytes it was
        // listed from; any other, every text of the layer that reads as it.
        const std::string layerKey = LayerKey(*featureLayer);
        for (std::size_t k = 0; k < graded.size(); ++k) {
            graded[k].layerText =
                LayerTextOf(m_ui->ListValuesSortie->item(static_cast<int>(k)), layerKey);
        }

        CriterionRequest request;
        request.sourceField = sourceField;
        request.gradedEntries = std::move(graded);
        request.typedName = ToStd(m_ui->Txt_new_name->text());
        request.scale = scale;
        request.runBy = "dialog";
        request.progress = [this](std::int64_t done, std::int64_t total) {
            OnComputationProgress(done, total);
        };
        // Graded values no feature holds are told before anything is
        // written; the user computes all the same or leaves every file as
        // it was.
        request.unmatched = [&busy, &target](const std::vector<std::string>& values) {
            busy.reset();
            if (!ComputeDespiteUnmatched(target.layerName, values)) {
                throw UnmatchedDeclined();
            }
            busy.emplace();
        };
        CriterionRun run;
        {
            m_running = true;
            m_lastProgressPaint = QDateTime::currentMSecsSinceEpoch();
            ControlsDisabled disabled(*this, m_ui->progressRun);
            struct RunEnd {
                frm_CritereTexte* self;
                ~RunEnd() {
                    self->m_running = false;
                    self->m_ui->progressRun->setVisible(false);
                }
            } runEnd{this};
            try {
                run = ComputeOn(*application, target, std::move(request), marker);
            } catch (const UnmatchedDeclined&) {
                return;  // nothing changed: the lists keep their entries
            }
        }
        if (run.outcome == RunOutcome::Editing) {
            busy.reset();
            Ui().MsgBox(ResourceString(text::kEditing), MsgIcon::Critical);
            return;
        }

        marker = 10;
        m_ui->Lst_fields->clear();
        const host::Fields fields = featureClass->GetFields();
        for (std::int32_t f = 0; f < fields.GetFieldCount(); ++f) {
            if (fields.GetField(f).GetFieldType() == host::kFieldText) {
                m_ui->Lst_fields->addItem(ToQ(fields.GetField(f).GetFieldName()));
            }
        }
    } catch (...) {
        const Failure f = CurrentFailure();
        busy.reset();
        HandleError(f, text::kFormName, "cmd_go_Click", true, 0, "Debug=" + std::to_string(marker),
                    0, true);
        return;
    }

    m_ui->ListValuesEntree->clear();
    m_ui->ListValuesSortie->clear();
    busy.reset();
    Ui().MsgBox(ResourceString(text::kComputed));
}

// ---------------------------------------------------------------------------
// Summary

void frm_CritereTexte::sum_table_Click() {
    std::int32_t marker = 0;
    CriterionFileGuard file;
    try {
        marker = 1;
        auto& state = DialogState();
        if (state.gLayerPath.empty() || state.gLayerName.empty()) {
            // No layer chosen yet: no criterion file to name, and none is
            // created for nothing.
            CurrentDescriptionTarget().SetInfoText(ResourceString(text::kNoDescription));
            fzy_io_showinfo();
            return;
        }
        fzy_io_open(state.gLayerPath, state.gLayerName);
        file.opened();
        marker = 2;
        const QListWidgetItem* selected = SelectedItem(m_ui->List1);
        const std::string fieldName = selected ? ToStd(selected->text()) : std::string();
        marker = 3;
        const bool foundTextCriterion = fzy_io_numberinfo(fieldName);
        marker = 4;
        const bool foundOtherCriterion = fzy_io_recordinfo(fieldName, std::string());
        marker = 5;
        if (!foundTextCriterion && !foundOtherCriterion) {
            CurrentDescriptionTarget().SetInfoText(ResourceString(text::kNoDescription));
        }
        file.closedByCallee();
        fzy_io_close();
        fzy_io_showinfo();
    } catch (...) {
        const Failure f = CurrentFailure();
        file.close();
        Ui().MsgBox(ErrorHead(f) + " Sum_table Debug=" + std::to_string(marker));
    }
}

// ---------------------------------------------------------------------------
// Shapefile opening

void frm_CritereTexte::cmd_open_shape_Click() {
    std::string marker;
    try {
        AskShapefile();
        auto& state = DialogState();
        if (state.gShapeName.empty()) {
            return;
        }
        m_ui->Lst_shapes->addItem(ToQ(state.gShapeName));
        auto application = App();
        auto workspace =
            Require(application->OpenShapefileFolder(state.gShapeFolder), "shapefile folder");
        auto featureClass = workspace->OpenFeatureClass(state.gShapeName);
        Require(featureClass, "feature class");
        auto layer = application->CreateFeatureLayer();
        Require(layer, "feature layer");
        layer->SetFeatureClass(featureClass);
        m_ui->Lst_fields->clear();
        m_ui->Txt_new_name->clear();

        marker = "1";
        const host::Fields fields = Require(layer->GetFeatureClass(), "feature class")->GetFields();
        for (std::int32_t f = 0; f < fields.GetFieldCount(); ++f) {
            const host::Field& field = fields.GetField(f);
            if (field.GetFieldType() == host::kFieldText) {
                m_ui->Lst_fields->addItem(ToQ(field.GetFieldAlias()));
            }
        }
        marker = "2";
        auto document = Require(application->GetDocument(), "document");
        auto map = document->GetFocusMap();
        Require(map, "focus map");
        marker = "3";
        layer->SetLayerName(featureClass->GetAliasName());
        map->AddLayer(layer);
    } catch (...) {
        HandleError(CurrentFailure(), text::kFormName, "cmd_open_shape_Click", true, 0,
                    "Debug=" + marker, 0, true);
    }
}

// ---------------------------------------------------------------------------
// Language and exit

void frm_CritereTexte::FillLanguageControls() {
    try {
        QComboBox* list = m_ui->Listlang;
        {
            // Filling a combo box selects its first entry on its own; the
            // language to select is the current one, or none.
            const QSignalBlocker blocker(list);
            gTextStore().FillLanguageList(list);
            list->setCurrentIndex(-1);
            list->setEditText(QStringLiteral("Lg"));
        }
        if (SelectListItem(list, gTextStore().LanguageCode()) >= 0) {
            Listlang_Click();
        }
    } catch (...) {
        // The start-up goes on with the captions.
    }
}

void frm_CritereTexte::Listlang_Click() {
    try {
        QComboBox* list = m_ui->Listlang;
        if (list->count() == 0) {
            return;
        }
        const std::string code = ToStd(list->currentText());
        auto& store = gTextStore();
        if (code != store.LanguageCode()) {
            store.setLanguageCode(code.empty() ? std::string("fr") : code);
            store.LoadResData();
        }
        store.LoadFormLanguageText(this, false);
        // A language asked for the run only (vark-fuzzy --lang) is not
        // saved when the form selects it; another one picked is.
        TextStoreState& state = textStoreState();
        if (state.runLanguage.empty() || code != state.runLanguage) {
            state.runLanguage.clear();
            store.SaveLangSetting();
        }
        ShowCountTips();
    } catch (...) {
        HandleError(CurrentFailure(), text::kFormName, "listLang_Click", true, 0, "", 0, true);
        return;
    }
    try {
        PrefixButtonBlanks();
    } catch (...) {
        // Cosmetic: the captions are already in place.
    }
}

void frm_CritereTexte::cmd_sortie_Click() {
    close();
}

}  // namespace vark
