#include "dialog/frm_CritereTexte.h"

#include <QCloseEvent>
#include <QCollator>
#include <QCoreApplication>
#include <QDateTime>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <algorithm>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "criterion/CriterionComputation.h"
#include "criterion/CriterionRun.h"
#include "criterion/CriterionUseCases.h"
#include "criterion/FieldListing.h"
#include "criterion/GradesFile.h"
#include "criterion/RequireObject.h"
#include "criterion_file/fzy_io.h"
#include "dialog/ButtonIcons.h"
#include "dialog/DialogState.h"
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

namespace {

constexpr const char* kFieldPrefix = "FZY_";

constexpr const char* kUndefinedGradesFallback =
    "Ces valeurs ont un niveau que l'échelle choisie n'offre pas ; notez-les de nouveau :";

constexpr qint64 kProgressPaintMs = 100;

QString ToQ(const std::string& s) {
    return QString::fromStdString(s);
}
std::string ToStd(const QString& s) {
    return s.toStdString();
}

std::string ResourceString(std::int32_t id) {
    return gTextStore().ResourceString(id);
}

template <typename T>
std::shared_ptr<T> Require(std::shared_ptr<T> object, const char* what) {
    return RequireObject(std::move(object), what, text::kFormName);
}

std::shared_ptr<host::Application> App() {
    return Require(g_pApplication(), "application");
}

/// "number  description", the head of the dialog's own error messages.
std::string ErrorHead(const Failure& f) {
    return std::to_string(f.number()) + "  " + f.description();
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void AddItems(QListWidget* list, const std::vector<std::string>& texts) {
    for (const auto& t : texts) {
        list->addItem(ToQ(t));
    }
}

/// The value of a value-list entry as the layer's texts hold it; nullopt
/// for an entry that was not listed from a layer (one of a grades file).
std::optional<std::string> LayerTextOf(const QListWidgetItem* item) {
    const QVariant data = item->data(frm_CritereTexte::kLayerTextRole);
    if (!data.isValid()) {
        return std::nullopt;
    }
    const QByteArray bytes = data.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void SetLayerText(QListWidgetItem* item, const std::optional<std::string>& text) {
    if (text) {
        item->setData(frm_CritereTexte::kLayerTextRole,
                      QByteArray(text->data(), static_cast<int>(text->size())));
    }
}

QListWidgetItem* SelectedItem(const QListWidget* list) {
    const auto selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

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

frm_CritereTexte::frm_CritereTexte(QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::frm_CritereTexte>()),
      m_order(std::make_unique<ValueOrder>()) {
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_ui->Listlang->setEditText(QStringLiteral("Lg"));
    m_ui->progressRun->setVisible(false);
    m_ui->cmd_open_shape->setIcon(MakeButtonIcon(ButtonPicture::OpenShape));
    m_ui->cmd_sortie->setIcon(MakeButtonIcon(ButtonPicture::Exit));
    m_ui->cmd_go->setIcon(MakeButtonIcon(ButtonPicture::Compute));

    for (int i = 0; i < 7; ++i) {
        QCheckBox* box = Chk_premiere(i);
        // A hidden grade box keeps its place, so the rows do not shift when
        // the number of levels changes.
        QSizePolicy policy = box->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        box->setSizePolicy(policy);
        connect(box, &QCheckBox::clicked, this, [this, i] { Chk_premiere_Click(i); });
    }
    connect(m_ui->Option1, &QRadioButton::clicked, this, &frm_CritereTexte::Option1_Click);
    connect(m_ui->Option2, &QRadioButton::clicked, this, &frm_CritereTexte::Option2_Click);
    connect(m_ui->Option3, &QRadioButton::clicked, this, &frm_CritereTexte::Option3_Click);
    connect(m_ui->Cmd_Add, &QPushButton::clicked, this, &frm_CritereTexte::Cmd_Add_Click);
    connect(m_ui->Cmd_Sub, &QPushButton::clicked, this, &frm_CritereTexte::Cmd_Sub_Click);
    connect(m_ui->cmd_go, &QPushButton::clicked, this, &frm_CritereTexte::cmd_go_Click);
    connect(m_ui->sum_table, &QPushButton::clicked, this, &frm_CritereTexte::sum_table_Click);
    connect(m_ui->cmd_open_shape, &QPushButton::clicked, this,
            &frm_CritereTexte::cmd_open_shape_Click);
    connect(m_ui->cmd_sortie, &QPushButton::clicked, this, &frm_CritereTexte::cmd_sortie_Click);
    m_ui->ListValuesSortie->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_ui->ListValuesSortie, &QWidget::customContextMenuRequested, this,
            &frm_CritereTexte::ListValuesSortie_ContextMenu);
    // Only the choice of an entry switches the language, not typing a code.
    connect(m_ui->Listlang, qOverload<int>(&QComboBox::activated), this,
            [this](int) { Listlang_Click(); });
    m_ui->Lst_shapes->viewport()->installEventFilter(this);
    m_ui->Lst_fields->viewport()->installEventFilter(this);

    Form_Load();
}

frm_CritereTexte::~frm_CritereTexte() = default;

QCheckBox* frm_CritereTexte::Chk_premiere(int index) const {
    switch (index) {
        case 0:
            return m_ui->Chk_premiere_0;
        case 1:
            return m_ui->Chk_premiere_1;
        case 2:
            return m_ui->Chk_premiere_2;
        case 3:
            return m_ui->Chk_premiere_3;
        case 4:
            return m_ui->Chk_premiere_4;
        case 5:
            return m_ui->Chk_premiere_5;
        case 6:
            return m_ui->Chk_premiere_6;
        default:
            return nullptr;
    }
}

int frm_CritereTexte::CurrentGrade() const {
    for (int i = 0; i < 7; ++i) {
        if (Chk_premiere(i)->isChecked()) {
            return i;
        }
    }
    return 0;
}

QListWidgetItem* frm_CritereTexte::InsertSorted(QListWidget* list, const QString& text) {
    int lo = 0;
    int hi = list->count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (m_order->collator().compare(text, list->item(mid)->text()) < 0) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    list->insertItem(lo, text);
    return list->item(lo);
}

bool frm_CritereTexte::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == m_ui->Lst_shapes->viewport()) {
            Lst_shapes_MouseUp();
        } else if (watched == m_ui->Lst_fields->viewport()) {
            Lst_fields_MouseUp();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frm_CritereTexte::closeEvent(QCloseEvent* event) {
    if (m_running) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frm_CritereTexte::PrefixButtonBlanks() {
    m_ui->cmd_sortie->setText(QLatin1Char(' ') + m_ui->cmd_sortie->text());
    m_ui->cmd_go->setText(QLatin1Char(' ') + m_ui->cmd_go->text());
}

// ---------------------------------------------------------------------------
// Start-up

void frm_CritereTexte::Form_Load() {
    std::string marker;
    try {
        InitLanguage();
        FillLanguageControls();
        gTextStore().LoadFormLanguageText(this, false);
        PrefixButtonBlanks();

        auto document = Require(App()->GetDocument(), "document");
        auto map = document->GetFocusMap();
        Require(map, "focus map");
        marker = "3";
        host::Uid uid = host::CreateUid();
        uid.SetUidValue(std::string(host::kFeatureLayerUid));
        auto layers = map->FindLayers(uid, false);
        Require(layers, "layer enumeration");
        marker = "4";
        layers->ResetLayers();
        auto layer = layers->NextLayer();
        marker = "5";
        while (layer) {
            auto featureLayer = std::dynamic_pointer_cast<host::FeatureLayer>(layer);
            if (featureLayer && featureLayer->IsLayerSelectable()) {
                marker = "6";
                const std::string name = featureLayer->GetLayerName();
                auto featureClass = Require(featureLayer->GetFeatureClass(), "feature class");
                const std::int32_t shapeType = featureClass->GetShapeType();
                marker = "7";
                if (shapeType == host::kShapePolygon) {
                    marker = "71";
                    const std::string path =
                        Require(featureClass->GetWorkspace(), "workspace")->GetWorkspacePath();
                    if (!EndsWith(path, ".mdb")) {
                        m_ui->Lst_shapes->addItem(ToQ(name));
                    }
                }
            }
            marker = "8";
            layer = layers->NextLayer();
        }
    } catch (...) {
        const Failure f = CurrentFailure();
        Ui().MsgBox(ErrorHead(f) + " Debug = " + marker + " dans form_load");
    }
}

// ---------------------------------------------------------------------------
// Layer and field lists

void frm_CritereTexte::Lst_shapes_MouseUp() {
    BusyPointer busy;
    std::string marker;
    try {
        m_ui->List1->clear();
        marker = "1";
        auto document = Require(App()->GetDocument(), "document");
        marker = "2";
        auto map = document->GetFocusMap();
        Require(map, "focus map");
        const QListWidgetItem* selected = SelectedItem(m_ui->Lst_shapes);
        if (selected == nullptr) {
            return;
        }
        marker = "3";
        const std::string wanted = ToStd(selected->text());
        auto& state = DialogState();
        const std::int32_t count = map->GetLayerCount();
        for (std::int32_t i = 0; i < count; ++i) {
            marker = "4";
            if (Require(map->GetMapLayer(i), "layer")->GetLayerName() != wanted) {
                continue;
            }
            marker = "5";
            auto layer = map->GetMapLayer(i);
            marker = "6";
            auto featureLayer = std::dynamic_pointer_cast<host::FeatureLayer>(layer);
            Require(featureLayer, "feature layer");
            marker = "7";
            auto featureClass = featureLayer->GetFeatureClass();
            Require(featureClass, "feature class");
            marker = "71";
            auto workspace = Require(featureClass->GetWorkspace(), "workspace");
            state.gLayerKind =
                workspace->GetWorkspaceType() == host::kWorkspaceFileSystem ? "shp" : "gdb";
            state.gLayerPath = workspace->GetWorkspacePath();
            state.gLayerName = layer->GetLayerName();
            state.gLayerIndex = i;
            m_ui->Lst_fields->clear();
            m_ui->Txt_new_name->clear();

            FieldLists lists;
            std::int32_t listingMarker = 0;
            try {
                ListLayerFieldsInto(*App(), *featureLayer, m_ui->CheckFields->isChecked(), lists,
                                    &listingMarker);
            } catch (...) {
                marker = std::to_string(listingMarker);
                AddItems(m_ui->Lst_fields, lists.textFields);
                AddItems(m_ui->List1, lists.otherFields);
                throw;
            }
            AddItems(m_ui->Lst_fields, lists.textFields);
            AddItems(m_ui->List1, lists.otherFields);
        }
    } catch (...) {
        const Failure f = CurrentFailure();
        Ui().MsgBox(ErrorHead(f) + "Debug=" + marker);
    }
}

void frm_CritereTexte::Lst_fields_MouseUp() {
    BusyPointer busy;
    try {
        const QListWidgetItem* field = SelectedItem(m_ui->Lst_fields);
        if (field != nullptr) {
            m_ui->Txt_new_name->setText(QLatin1String(kFieldPrefix) + field->text());
        }
        const QString proposed = m_ui->Txt_new_name->text();
        for (int i = 0; i < m_ui->Lst_fields->count(); ++i) {
            if (m_ui->Lst_fields->item(i)->text() == proposed) {
                Ui().MsgBox(ResourceString(text::kNameTakenPrompt), MsgIcon::None, MsgButtons::Ok,
                            ResourceString(text::kNameTakenTitle));
            }
        }

        // The layer is found again by the name chosen in the layer list; when
        // it has left the map (or none was chosen) the value list stays as is.
        const QListWidgetItem* layerItem = SelectedItem(m_ui->Lst_shapes);
        if (layerItem == nullptr) {
            return;
        }
        const std::string layerName = ToStd(layerItem->text());
        auto document = Require(App()->GetDocument(), "document");
        auto map = document->GetFocusMap();
        Require(map, "focus map");
        std::shared_ptr<host::Layer> found;
        for (std::int32_t i = 0; i < map->GetLayerCount(); ++i) {
            auto layer = map->GetMapLayer(i);
            if (layer && layer->GetLayerName() == layerName) {
                found = layer;
            }
        }
        if (!found) {
            return;
        }
        auto featureLayer = std::dynamic_pointer_cast<host::FeatureLayer>(found);
        Require(featureLayer, "feature layer");
        if (field == nullptr) {
            return;
        }
        const FieldValues values = ListFieldValues(*App(), *featureLayer, ToStd(field->text()));
        m_ui->ListValuesEntree->clear();
        m_valueCounts.reset();
        m_listedEncoding = values.encoding;
        if (values.tooMany) {
            ShowCountTips();
            Ui().MsgBox(std::string(kTooManyValuesText));
            return;
        }
        // Shown decoded, kept as the layer holds them: that is what matches.
        for (std::size_t i = 0; i < values.values.size(); ++i) {
            auto* item = new QListWidgetItem(ToQ(values.shown[i]), m_ui->ListValuesEntree);
            SetLayerText(item, values.values[i]);
        }
        if (values.counts.size() == values.values.size()) {
            m_valueCounts.emplace();
            for (std::size_t i = 0; i < values.values.size(); ++i) {
                m_valueCounts->emplace(values.values[i], values.counts[i]);
            }
        }
        ShowCountTips();
    } catch (...) {
        HandleError(CurrentFailure(), text::kFormName, "Lst_fields_MouseUp", true, 0, "", 0, true);
    }
}

// ---------------------------------------------------------------------------
// Grades

void frm_CritereTexte::Chk_premiere_Click(int Index) {
    for (int i = 0; i < 7; ++i) {
        if (i != Index) {
            Chk_premiere(i)->setChecked(false);
        }
    }
}

void frm_CritereTexte::ShowGradeBoxes(int levels) {
    // Hiding a box does not untick it: a hidden ticked box still grades.
    static constexpr bool kShown[3][7] = {
        {true, false, false, true, false, false, true},
        {true, false, true, true, true, false, true},
        {true, true, true, true, true, true, true},
    };
    const int row = levels == 3 ? 0 : levels == 5 ? 1 : 2;
    for (int i = 0; i < 7; ++i) {
        Chk_premiere(i)->setVisible(kShown[row][i]);
    }
}

void frm_CritereTexte::Option1_Click() {
    m_ui->Option2->setChecked(false);
    m_ui->Option3->setChecked(false);
    m_ui->Option1->setChecked(true);
    ShowGradeBoxes(3);
}

void frm_CritereTexte::Option2_Click() {
    m_ui->Option1->setChecked(false);
    m_ui->Option3->setChecked(false);
    m_ui->Option2->setChecked(true);
    ShowGradeBoxes(5);
}

void frm_CritereTexte::Option3_Click() {
    m_ui->Option1->setChecked(false);
    m_ui->Option2->setChecked(false);
    m_ui->Option3->setChecked(true);
    ShowGradeBoxes(7);
}

void frm_CritereTexte::Cmd_Add_Click() {
    QListWidget* input = m_ui->ListValuesEntree;
    for (int i = input->count() - 1; i >= 0; --i) {
        if (!input->item(i)->isSelected()) {
            continue;
        }
        const std::string value = ToStd(input->item(i)->text());
        SetLayerText(
            InsertSorted(m_ui->ListValuesSortie, ToQ(FormatGradedEntry(value, CurrentGrade()))),
            LayerTextOf(input->item(i)));
        delete input->takeItem(i);
    }
    ShowCountTips();
}

void frm_CritereTexte::Cmd_Sub_Click() {
    QListWidget* output = m_ui->ListValuesSortie;
    for (int i = output->count() - 1; i >= 0; --i) {
        if (!output->item(i)->isSelected()) {
            continue;
        }
        const std::string entry = ToStd(output->item(i)->text());
        SetLayerText(InsertSorted(m_ui->ListValuesEntree, ToQ(DropLastCharacters(entry, 3))),
                     LayerTextOf(output->item(i)));
        delete output->takeItem(i);
    }
    ShowCountTips();
}

void frm_CritereTexte::ShowCountTips() {
    const auto countOf = [this](const std::string& layerText) -> std::int64_t {
        const auto found = m_valueCounts->find(layerText);
        return found == m_valueCounts->end() ? 0 : found->second;
    };
    // An entry listed from the layer counts the features of its own text; one
    // from a grades file those of every text that reads as it.
    const auto tip = [&](const QListWidgetItem* item, const std::string& value) {
        if (!m_valueCounts) {
            return QString();
        }
        std::int64_t count = 0;
        if (const std::optional<std::string> layerText = LayerTextOf(item)) {
            count = countOf(*layerText);
        } else {
            for (const std::string& form : host::LayerTextForms(value, m_listedEncoding)) {
                count += countOf(form);
            }
        }
        std::string text = ResourceString(count == 1 ? text::kOneFeature : text::kFeatures);
        if (text.empty()) {
            text = count == 1 ? "1 entité" : "%1 entités";
        }
        return ToQ(text).replace(QStringLiteral("%1"), QString::number(count));
    };
    for (int i = 0; i < m_ui->ListValuesEntree->count(); ++i) {
        QListWidgetItem* item = m_ui->ListValuesEntree->item(i);
        item->setToolTip(tip(item, ToStd(item->text())));
    }
    for (int i = 0; i < m_ui->ListValuesSortie->count(); ++i) {
        QListWidgetItem* item = m_ui->ListValuesSortie->item(i);
        item->setToolTip(tip(item, DropLastCharacters(ToStd(item->text()), 3)));
    }
}

// ---------------------------------------------------------------------------
// Grades files

void frm_CritereTexte::ListValuesSortie_ContextMenu(const QPoint& at) {
    QMenu menu(this);
    menu.setObjectName("mnu_grades");
    QAction* save = menu.addAction(ToQ(ResourceString(text::kSaveGrades)));
    save->setObjectName("mnu_save_grades");
    save->setEnabled(m_ui->ListValuesSortie->count() > 0);
    QAction* load = menu.addAction(ToQ(ResourceString(text::kLoadGrades)));
    load->setObjectName("mnu_load_grades");
    QAction* chosen = menu.exec(m_ui->ListValuesSortie->viewport()->mapToGlobal(at));
    if (chosen == save) {
        mnu_save_grades_Click();
    } else if (chosen == load) {
        mnu_load_grades_Click();
    }
}

void frm_CritereTexte::mnu_save_grades_Click() {
    try {
        std::vector<std::string> entries;
        for (int i = 0; i < m_ui->ListValuesSortie->count(); ++i) {
            entries.push_back(ToStd(m_ui->ListValuesSortie->item(i)->text()));
        }
        const std::optional<std::string> path = Ui().AskSaveFile(
            ResourceString(text::kSaveGrades), ResourceString(text::kGradesFilter), 1);
        if (!path) {
            return;
        }
        try {
            WriteGradesFile(*path, entries);
        } catch (const Failure& f) {
            Ui().MsgBox(ResourceString(text::kGradesNotSaved) + "\r\n" + f.description(),
                        MsgIcon::Critical);
        }
    } catch (...) {
        HandleError(CurrentFailure(), text::kFormName, "mnu_save_grades_Click", true, 0, "", 0,
                    true);
    }
}

void frm_CritereTexte::mnu_load_grades_Click() {
    try {
        const std::optional<std::string> path = Ui().AskOpenFile(
            ResourceString(text::kLoadGrades), ResourceString(text::kGradesFilter), 1);
        if (!path) {
            return;
        }
        std::vector<std::string> entries;
        try {
            entries = ReadGradesFile(*path);
        } catch (const Failure& f) {
            Ui().MsgBox(ResourceString(text::kGradesNotLoaded) + "\r\n" + f.description(),
                        MsgIcon::Critical);
            return;
        }
        QListWidget* graded = m_ui->ListValuesSortie;
        std::set<std::string> values;
        for (int i = 0; i < graded->count(); ++i) {
            values.insert(DropLastCharacters(ToStd(graded->item(i)->text()), 3));
        }
        for (const auto& entry : entries) {
            values.insert(DropLastCharacters(entry, 3));
        }
        if (values.size() > kMaxGradedEntries) {
            std::string text = ResourceString(text::kTooManyGrades);
            const std::size_t at = text.find("%1");
            if (at != std::string::npos) {
                text.replace(at, 2, std::to_string(values.size()));
            }
            Ui().MsgBox(text, MsgIcon::Exclamation);
            return;
        }
        // A later line for the same value wins, as a later grading would.
        for (const auto& entry : entries) {
            const QString value = ToQ(DropLastCharacters(entry, 3));
            for (int i = graded->count() - 1; i >= 0; --i) {
                if (ToQ(DropLastCharacters(ToStd(graded->item(i)->text()), 3)) == value) {
                    delete graded->takeItem(i);
                }
            }
            QListWidget* input = m_ui->ListValuesEntree;
            for (int i = input->count() - 1; i >= 0; --i) {
                if (input->item(i)->text() == value) {
                    delete input->takeItem(i);
                }
            }
            InsertSorted(graded, ToQ(entry));
        }
        ShowCountTips();
    } catch (...) {
        HandleError(CurrentFailure(), text::kFormName, "mnu_load_grades_Click", true, 0, "", 0,
                    true);
    }
}

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
        for (std::size_t k = 0; k < graded.size(); ++k) {
            graded[k].layerText = LayerTextOf(m_ui->ListValuesSortie->item(static_cast<int>(k)));
        }
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

        CriterionRequest request;
        request.sourceField = sourceField;
        request.gradedEntries = std::move(graded);
        request.typedName = ToStd(m_ui->Txt_new_name->text());
        request.scale = scale;
        request.progress = [this](std::int64_t done, std::int64_t total) {
            OnComputationProgress(done, total);
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
            run = ComputeOn(*application, target, std::move(request), marker);
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
