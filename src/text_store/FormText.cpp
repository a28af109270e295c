#include "text_store/FormText.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QVariant>
#include <QWidget>
#include <optional>

#include "support/StringFunctions.h"
#include "support/UiServices.h"
#include "text_store/clsResourceMDB.h"

namespace vark {

namespace {

QString ToQt(const std::string& s) {
    return QString::fromStdString(s);
}

std::string TagOf(const QWidget* w) {
    const QVariant tag = w->property("tag");
    return tag.isValid() ? tag.toString().toStdString() : std::string();
}

// A tag number: blanks around, a sign and a decimal part are accepted; a
// value outside the 16-bit range is no number here (it sets nothing).
std::optional<std::int16_t> TagNumber(const std::string& text) {
    try {
        return DbValueToInt16(DbValue{text});
    } catch (...) {
        return std::nullopt;
    }
}

// The "caption" of a widget, for the kinds that have one.
std::optional<QString> CaptionOf(const QWidget* w) {
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (const auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    if (w->isWindow()) return w->windowTitle();
    return std::nullopt;
}

void SetCaption(QWidget* w, const QString& text) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(text);
    } else if (w->isWindow()) {
        w->setWindowTitle(text);
    }
}

// The "text" (content) of a widget, for the kinds that have one.
void SetContent(QWidget* w, const QString& text) {
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(text);
    } else if (auto* t = qobject_cast<QTextEdit*>(w)) {
        t->setPlainText(text);
    } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
        p->setPlainText(text);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        if (c->isEditable()) c->setEditText(text);
    }
}

}  // namespace

void clsResourceMDB::SetControlText(QWidget* control, const std::string& text) {
    const QString t = ToQt(text);
    SetCaption(control, t);
    SetContent(control, t);
}

void clsResourceMDB::SetControlFontName(QWidget* control, const std::string& name) {
    // Every attribute is set explicitly: a widget font only overrides the
    // attributes it resolves, and the rest would be inherited from the parent.
    QFont font(ToQt(name));
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0) {
        font.setPointSizeF(base.pointSizeF());
    } else {
        font.setPixelSize(base.pixelSize());
    }
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    control->setFont(font);
}

void clsResourceMDB::LoadFormLanguageText(QWidget* frm, bool bSetFontToFormFont) {
    if (frm == nullptr) return;
    try {
        if (const auto n = TagNumber(TagOf(frm))) frm->setWindowTitle(ToQt(ResourceString(*n)));
    } catch (...) {
    }

    const QList<QWidget*> controls = frm->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        try {
            std::string tag = TagOf(control);
            if (tag.empty()) continue;
            std::string colon;
            std::int16_t tip = 0;
            std::int16_t id = 0;

            if (tag.find("tt=") != std::string::npos) {
                if (const auto v = TagNumber(GetValueAfterKey(tag, "tt=", ",", true, ""))) tip = *v;
            }
            if (tag.find(':') != std::string::npos) {
                colon = " :";
                std::erase(tag, ':');
            }
            if (const auto v = TagNumber(tag)) id = *v;

            if (id > 0) {
                SetControlText(control, ResourceString(id));
                if (bSetFontToFormFont) control->setFont(frm->font());
                if (!m_fontName.empty()) SetControlFontName(control, m_fontName);
                if (!colon.empty()) {
                    if (const auto caption = CaptionOf(control)) {
                        SetCaption(control, *caption + ToQt(colon));
                    }
                }
            }
            if (tip > 0) control->setToolTip(ToQt(ResourceString(tip)));
        } catch (...) {
        }
    }
}

std::string clsResourceMDB::FillLanguageList(QComboBox* Listlang) {
    const std::string msg = FillListWithFieldNames(m_db, m_tableName, Listlang);
    if (!msg.empty()) {
        try {
            Ui().MsgBox(msg, MsgIcon::Critical, MsgButtons::Ok, "FillLanguageList");
        } catch (...) {
        }
    }
    return {};
}

std::string FillListWithFieldNames(Database& database, const std::string& table, QComboBox* list) {
    try {
        if (list == nullptr) {
            throw Failure(err::kObjectVariableNotSet, "No list to fill.", err::kRuntimeSource);
        }
        const std::vector<std::string> names = TableColumnNames(database, table);
        // Filling is not a choice of the user: no selection signal while the
        // entries change, and no entry current afterwards, so that the next
        // selection (SelectListItem) is always a change.
        const QSignalBlocker blocker(list);
        list->clear();
        for (const std::string& name : names) {
            if (name != "id") list->addItem(ToQt(name));
        }
        list->setCurrentIndex(-1);
        return {};
    } catch (...) {
        return CurrentFailure().description();
    }
}

namespace {

/// Makes current the first entry whose text is `text`, among the first
/// 32768 (the index must fit the 16-bit result); -1 when none is.
template <typename List, typename TextAt, typename MakeCurrent>
std::int16_t SelectEntry(List* list, const std::string& text, TextAt textAt,
                         MakeCurrent makeCurrent) {
    try {
        if (list == nullptr) return -1;
        const QString wanted = ToQt(text);
        for (int i = 0; i < list->count() && i <= INT16_MAX; ++i) {
            if (textAt(list, i) == wanted) {
                makeCurrent(list, i);
                return static_cast<std::int16_t>(i);
            }
        }
    } catch (...) {
    }
    return -1;
}

}  // namespace

std::int16_t SelectListItem(QComboBox* list, const std::string& text) {
    return SelectEntry(
        list, text, [](QComboBox* l, int i) { return l->itemText(i); },
        [](QComboBox* l, int i) { l->setCurrentIndex(i); });
}

std::int16_t SelectListItem(QListWidget* list, const std::string& text) {
    return SelectEntry(
        list, text, [](QListWidget* l, int i) { return l->item(i)->text(); },
        [](QListWidget* l, int i) { l->setCurrentRow(i); });
}

}  // namespace vark
