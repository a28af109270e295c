#pragma once

// The text-criterion dialog: the user picks a polygon layer of the focus map
// and one of its text fields, grades the field's distinct values, names the
// field to create and runs the computation; side functions show the recorded
// description of a criterion field and switch the interface language.
//
// The window is built from frm_CritereTexte.ui; every control keeps its name
// as objectName and, when it has a numbered caption, the number in its "tag"
// property. The layer choice and the graded values of the last run live in
// the module state (DialogState.h), which outlives the window.
//
// Every handler catches what it raises and reports it as the dialog always
// has (its own message box with its progress marker, or HandleError): no
// exception leaves a handler.

#include <QDialog>
#include <QPoint>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "host/host.h"

class QCheckBox;
class QListWidget;
class QListWidgetItem;

namespace Ui {
class frm_CritereTexte;
}

namespace vark {

class ValueOrder;

class frm_CritereTexte : public QDialog {
    Q_OBJECT

public:
    /// Builds the window and runs its start-up (Form_Load).
    explicit frm_CritereTexte(QWidget* parent = nullptr);
    ~frm_CritereTexte() override;

    /// The controls, by their names.
    Ui::frm_CritereTexte& ui() { return *m_ui; }
    /// Grade box `index` (0 "Exclu" .. 6 "Excellent"); nullptr out of range.
    QCheckBox* Chk_premiere(int index) const;
    /// The grade ">>" gives now: the smallest ticked index, 0 when none.
    int CurrentGrade() const;
    /// True while the computation runs (the window refuses input and closing).
    bool isRunning() const { return m_running; }

    /// Inserts `text` into a value list at its place in reading order
    /// (locale-aware: accents beside their letter; equal texts keep arrival
    /// order) and returns the new entry.
    QListWidgetItem* InsertSorted(QListWidget* list, const QString& text);

    /// The item data role under which an entry of the two value lists keeps
    /// its value as the layer's texts hold it (a QByteArray), when it was
    /// listed from the layer; the entry's text shows the value decoded.
    static constexpr int kLayerTextRole = Qt::UserRole;
    /// The item data role under which such an entry keeps the key of the
    /// layer it was listed from (dialog::LayerKey, a QString): its bytes
    /// are matched as they are on that layer only.
    static constexpr int kListedFromRole = Qt::UserRole + 1;

public slots:
    /// Start-up: text store, language list, captions, candidate layers.
    void Form_Load();
    /// Mouse button released over the layer list / the field list.
    void Lst_shapes_MouseUp();
    void Lst_fields_MouseUp();
    void Chk_premiere_Click(int Index);
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Cmd_Add_Click();
    void Cmd_Sub_Click();
    void cmd_go_Click();
    void sum_table_Click();
    void cmd_open_shape_Click();
    void Listlang_Click();
    void cmd_sortie_Click();
    /// The graded list's context menu: save its entries to a grades file,
    /// or load entries from one.
    void ListValuesSortie_ContextMenu(const QPoint& at);
    /// Asks for a file and writes the graded entries to it, one per line
    /// (the --grades format), whole or not at all.
    void mnu_save_grades_Click();
    /// Asks for a grades file and moves its entries into the graded list:
    /// an entry replaces the graded entry of the same value and takes its
    /// value out of the value list. A file that cannot be read, holds a line
    /// that is no entry, or would take the list past 101 entries changes
    /// nothing and is explained in a message box.
    void mnu_load_grades_Click();
    /// Fills the graded list from the recipe of a criterion field of the
    /// chosen layer, its scale with it.
    void mnu_like_grades_Click();
    /// Puts graded `entries` ("value->grade") in the graded list, a value
    /// already there or in the value list taken out of it first. False,
    /// after a message, when the list would hold too many values.
    bool PutGradedEntries(const std::vector<std::string>& entries);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FillLanguageControls();
    void PrefixButtonBlanks();
    void ShowGradeBoxes(int levels);
    void OnComputationProgress(std::int64_t done, std::int64_t total);
    /// Puts on each entry of the two value lists the features holding its
    /// value in the field last listed (none when the host does not count).
    void ShowCountTips();

    std::unique_ptr<Ui::frm_CritereTexte> m_ui;
    std::unique_ptr<ValueOrder> m_order;
    bool m_running = false;
    /// Features per value (as the layer's texts hold it) of the field last
    /// listed; nullopt when unknown.
    std::optional<std::unordered_map<std::string, std::int64_t>> m_valueCounts;
    /// How the texts of the layer last listed read, and which layer it is.
    host::TextEncoding m_listedEncoding = host::TextEncoding::kUtf8;
    std::string m_listedLayerKey;
    qint64 m_lastProgressPaint = 0;
};

}  // namespace vark
