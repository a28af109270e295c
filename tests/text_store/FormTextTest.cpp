#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextEdit>

#include "support/RecordingUi.h"
#include "testing/QtTestApp.h"
#include "testing/TempDir.h"
#include "testing/TestDb.h"
#include "text_store/FormText.h"
#include "text_store/clsResourceMDB.h"

namespace vark {
namespace {

template <typename W>
W* Tagged(QWidget* parent, const char* tag, const QString& text = {}) {
    auto* w = new W(parent);
    if (tag != nullptr) w->setProperty("tag", QString(tag));
    if constexpr (std::is_same_v<W, QGroupBox>) {
        w->setTitle(text);
    } else if constexpr (!std::is_same_v<W, QTextEdit>) {
        w->setText(text);
    }
    return w;
}

class FormTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureQApplication();
        test::MakeTextDb(m_dir.file("text.db"), {{"1", "DejaVu Serif", "DejaVu Sans Mono"},
                                                 {"12", "Douze", "Twelve"},
                                                 {"15", "Aide quinze", "Help fifteen"},
                                                 {"20", "Titre", "Title"},
                                                 {"21", "Contenu", "Content"}});
        m_store.setTableName("tblText");
        m_store.setLanguageCode("fr");
        m_store.setFontId(1);
        std::string path = m_dir.file("text.db");
        m_store.DbOpen(path, true);
        m_store.LoadResData();
    }

    test::TempDir m_dir;
    ScopedRecordingUi m_ui;
    clsResourceMDB m_store;
};

TEST_F(FormTextTest, CaptionsContentsTooltipsAndFonts) {
    QDialog form;
    form.setProperty("tag", "20");
    QFont big = form.font();
    big.setPointSize(31);
    big.setBold(true);
    form.setFont(big);

    auto* plain = Tagged<QLabel>(&form, "12", "design");
    auto* colon = Tagged<QLabel>(&form, "12:", "design");
    auto* tip = Tagged<QPushButton>(&form, "tt=15", "keep me");
    auto* tipMore = Tagged<QCheckBox>(&form, "tt=15,x", "keep me too");
    auto* box = Tagged<QLineEdit>(&form, "21:", "old");
    auto* memo = Tagged<QTextEdit>(&form, "21");
    auto* frame = Tagged<QGroupBox>(&form, ":12", "frame");
    auto* word = Tagged<QLabel>(&form, "word", "word stays");
    auto* zero = Tagged<QLabel>(&form, "0", "zero stays");
    auto* huge = Tagged<QLabel>(&form, "40000", "huge stays");
    auto* missing = Tagged<QLabel>(&form, "99", "missing");
    auto* untagged = Tagged<QLabel>(&form, nullptr, "untagged");
    auto* nested = Tagged<QLabel>(frame, " 12 ", "nested");

    m_store.LoadFormLanguageText(&form, false);

    EXPECT_EQ(form.windowTitle(), "Titre");
    EXPECT_EQ(plain->text(), "Douze");
    EXPECT_EQ(colon->text(), "Douze :");
    EXPECT_EQ(tip->text(), "keep me");
    EXPECT_EQ(tip->toolTip(), "Aide quinze");
    EXPECT_EQ(tipMore->text(), "keep me too");
    EXPECT_EQ(tipMore->toolTip(), "Aide quinze");
    EXPECT_EQ(box->text(), "Contenu") << "a text box gets content and no \" :\"";
    EXPECT_EQ(memo->toPlainText(), "Contenu");
    EXPECT_EQ(frame->title(), "Douze :");
    EXPECT_EQ(word->text(), "word stays");
    EXPECT_EQ(zero->text(), "zero stays");
    EXPECT_EQ(huge->text(), "huge stays");
    EXPECT_EQ(missing->text(), "") << "a number without text empties the caption";
    EXPECT_EQ(nested->text(), "Douze");

    // Numbered controls get a fresh font of the language's family at the
    // default size, whatever the form's font; the others keep the form's.
    const QFont appFont = QApplication::font();
    for (QWidget* w : std::initializer_list<QWidget*>{plain, colon, box, memo, nested}) {
        EXPECT_EQ(w->font().family(), "DejaVu Serif");
        EXPECT_EQ(w->font().pointSize(), appFont.pointSize());
        EXPECT_FALSE(w->font().bold());
    }
    for (QWidget* w : std::initializer_list<QWidget*>{tip, word, untagged}) {
        EXPECT_EQ(w->font().pointSize(), 31);
        EXPECT_TRUE(w->font().bold());
    }

    // Another language replaces every numbered text again.
    m_store.setLanguageCode("en");
    m_store.LoadResData();
    m_store.LoadFormLanguageText(&form, false);
    EXPECT_EQ(form.windowTitle(), "Title");
    EXPECT_EQ(colon->text(), "Twelve :");
    EXPECT_EQ(tip->toolTip(), "Help fifteen");
    EXPECT_EQ(plain->font().family(), "DejaVu Sans Mono");
    EXPECT_TRUE(m_ui->calls.empty()) << "loading texts never reports anything";
}

TEST_F(FormTextTest, FormFontAndEmptyStore) {
    QDialog form;
    QFont f = form.font();
    f.setPointSize(17);
    form.setFont(f);
    auto* label = Tagged<QLabel>(&form, "12", "design");

    m_store.setFontName("");
    m_store.LoadFormLanguageText(&form, true);
    EXPECT_EQ(label->font().pointSize(), 17);
    EXPECT_TRUE(label->testAttribute(Qt::WA_SetFont)) << "the form's font was assigned";

    clsResourceMDB empty;
    empty.LoadFormLanguageText(&form, false);
    EXPECT_EQ(label->text(), "") << "an empty store empties numbered captions";
}

TEST_F(FormTextTest, LanguageListInColumnOrder) {
    test::TempDir dir;
    test::MakeDb(dir.file("langs.db"), "tblText", {"de TEXT", "id INTEGER", "fr TEXT"}, {});
    test::MakeDb(dir.file("langs.db"), "upper", {"ID INTEGER", "it TEXT"}, {});
    Database db;
    DAO_Open(db, dir.file("langs.db"), true);
    QComboBox list;
    list.setEditable(true);
    list.addItem("stale");
    int changes = 0;
    QObject::connect(&list, qOverload<int>(&QComboBox::currentIndexChanged),
                     [&changes](int) { ++changes; });

    EXPECT_EQ(FillListWithFieldNames(db, "tblText", &list), "");
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.itemText(0), "de");
    EXPECT_EQ(list.itemText(1), "fr");
    EXPECT_EQ(list.currentIndex(), -1);
    EXPECT_EQ(changes, 0) << "filling is not a choice";

    QComboBox upper;
    EXPECT_EQ(FillListWithFieldNames(db, "upper", &upper), "");
    ASSERT_EQ(upper.count(), 2);
    EXPECT_EQ(upper.itemText(0), "ID") << "only \"id\" exactly is left out";

    // A missing table leaves the list as it was.
    EXPECT_NE(FillListWithFieldNames(db, "nope", &list), "");
    EXPECT_EQ(list.count(), 2);

    // Selecting is an ordinary selection change.
    EXPECT_EQ(SelectListItem(&list, "fr"), 1);
    EXPECT_EQ(list.currentIndex(), 1);
    EXPECT_EQ(list.currentText(), "fr");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(SelectListItem(&list, "FR"), -1);
    EXPECT_EQ(SelectListItem(&list, "it"), -1);
    EXPECT_EQ(list.currentIndex(), 1);
    EXPECT_EQ(changes, 1);

    QListWidget widgetList;
    widgetList.addItems({"a", "b"});
    EXPECT_EQ(SelectListItem(&widgetList, "b"), 1);
    EXPECT_EQ(widgetList.currentRow(), 1);
    EXPECT_EQ(SelectListItem(&widgetList, "B"), -1);
}

TEST_F(FormTextTest, FillLanguageListReportsAClosedDatabase) {
    QComboBox list;
    EXPECT_EQ(m_store.FillLanguageList(&list), "");
    EXPECT_EQ(list.count(), 2);  // fr, en
    EXPECT_TRUE(m_ui->calls.empty());

    clsResourceMDB closed;  // as after InitLanguage without a text database
    closed.setTableName("tblText");
    EXPECT_EQ(closed.FillLanguageList(&list), "");
    const auto boxes = m_ui->messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "FillLanguageList");
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(list.count(), 2) << "the list keeps what it had";
}

}  // namespace
}  // namespace vark
