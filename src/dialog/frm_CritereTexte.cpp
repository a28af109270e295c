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
#include "criterion/Recipe.h"
#include "criterion/RequireObject.h"
#include "criterion_file/fzy_io.h"
#include "dialog/ButtonIcons.h"
#include "dialog/DialogState.h"
#include "dialog/DialogSupport.h"
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

constexpr const char* kFieldPrefix = "FZY_";

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void AddItems(QListWidget* list, const std::vector<std::string>& texts) {
    for (const auto& t : texts) {
        list->addItem(ToQ(t));
    }
}

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
        m_listedLayerKey = LayerKey(*featureLayer);
        if (values.tooMany) {
            ShowCountTips();
            Ui().MsgBox(std::string(kTooManyValuesText));
            return;
        }
        // Shown decoded, kept as the layer holds them: that is what matches.
        for (std::size_t i = 0; i < values.values.size(); ++i) {
            auto* item = new QListWidgetItem(ToQ(values.shown[i]), m_ui->ListValuesEntree);
            SetLayerText(item, values.values[i], m_listedLayerKey);
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
        CopyLayerText(input->item(i), InsertSorted(m_ui->ListValuesSortie,
                                                   ToQ(FormatGradedEntry(value, CurrentGrade()))));
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
        CopyLayerText(output->item(i),
                      InsertSorted(m_ui->ListValuesEntree, ToQ(DropLastCharacters(entry, 3))));
        delete output->takeItem(i);
    }
    ShowCountTips();
}

void frm_CritereTexte::ShowCountTips() {
    const auto countOf = [this](const std::string& layerText) -> std::int64_t {
        const auto found = m_valueCounts->find(layerText);
        return found == m_valueCounts->end() ? 0 : found->second;
    };
    // An entry listed from this layer counts the features of its own text;
    // one from a grades file or another layer those of every text that reads
    // as it.
    const auto tip = [&](const QListWidgetItem* item, const std::string& value) {
        if (!m_valueCounts) {
            return QString();
        }
        std::int64_t count = 0;
        if (const std::optional<std::string> layerText = LayerTextOf(item, m_listedLayerKey)) {
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
    QAction* like = menu.addAction(ToQ(ResourceString(text::kLikeGrades)));
    like->setObjectName("mnu_like_grades");
    like->setEnabled(m_ui->Lst_fields->count() > 0);
    QAction* chosen = menu.exec(m_ui->ListValuesSortie->viewport()->mapToGlobal(at));
    if (chosen == save) {
        mnu_save_grades_Click();
    } else if (chosen == load) {
        mnu_load_grades_Click();
    } else if (chosen == like) {
        mnu_like_grades_Click();
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
        PutGradedEntries(entries);
        ShowCountTips();
    } catch (...) {
        HandleError(CurrentFailure(), text::kFormName, "mnu_load_grades_Click", true, 0, "", 0,
                    true);
    }
}

bool frm_CritereTexte::PutGradedEntries(const std::vector<std::string>& entries) {
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
        return false;
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
    return true;
}

void frm_CritereTexte::mnu_like_grades_Click() {
    try {
        auto& state = DialogState();
        if (m_ui->Lst_fields->count() == 0) {
            return;  // no layer chosen yet
        }
        const auto application = App();
        auto document = RequireObject(application->GetDocument(), "document", "mnu_like_grades");
        auto map = RequireObject(document->GetFocusMap(), "focus map", "mnu_like_grades");
        auto featureLayer = RequireObject(
            std::dynamic_pointer_cast<host::FeatureLayer>(map->GetMapLayer(state.gLayerIndex)),
            "feature layer", "mnu_like_grades");
        const auto featureClass =
            RequireObject(featureLayer->GetFeatureClass(), "feature class", "mnu_like_grades");
        const CriterionTarget target =
            ResolveTarget(featureClass, CriterionFileLayerName(state.gLayerName));
        std::vector<std::string> criterionFields;
        const host::Fields fields = featureClass->GetFields();
        for (std::int32_t i = 0; i < fields.GetFieldCount(); ++i) {
            if (fields.GetField(i).GetFieldType() == host::kFieldDouble) {
                criterionFields.push_back(fields.GetField(i).GetFieldName());
            }
        }
        const std::vector<Recipe> recipes = RecipesOn(target, criterionFields);
        std::vector<std::string> items;
        for (const Recipe& recipe : recipes) {
            std::string item = ResourceString(text::kRecipeChoice);
            const std::string args[] = {recipe.field, recipe.sourceField,
                                        std::to_string(recipe.levels), recipe.dateUtc};
            for (int k = 4; k >= 1; --k) {
                const std::string mark = "%" + std::to_string(k);
                if (const std::size_t at = item.find(mark); at != std::string::npos) {
                    item.replace(at, mark.size(), args[k - 1]);
                }
            }
            items.push_back(std::move(item));
        }
        if (recipes.empty()) {
            std::string prompt = ResourceString(text::kNoRecipeInLayer);
            if (const std::size_t at = prompt.find("%1"); at != std::string::npos) {
                prompt.replace(at, 2, state.gLayerName);
            }
            Ui().MsgBox(prompt, MsgIcon::Information);
            return;
        }
        const std::optional<std::size_t> chosen = Ui().AskChoice(
            ResourceString(text::kLikeGrades), ResourceString(text::kChooseRecipe), items);
        if (!chosen || *chosen >= recipes.size()) {
            return;
        }
        const Recipe& recipe = recipes[*chosen];
        QRadioButton* scale = recipe.levels == 3   ? m_ui->Option1
                              : recipe.levels == 5 ? m_ui->Option2
                                                   : m_ui->Option3;
        scale->setChecked(true);
        PutGradedEntries(RecipeGradesLines(recipe));
    } catch (...) {
        HandleError(CurrentFailure(), text::kFormName, "mnu_like_grades_Click", true, 0, "", 0,
                    true);
    }
}

}  // namespace vark
