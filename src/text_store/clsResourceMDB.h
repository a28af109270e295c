#pragma once

// The multilingual text store: every text of the current language is read
// from the text database (SQLite file "text.db" beside the library, table
// "tblText": column "id" then one text column per language code) in one
// query, and answered by number from memory.
//
// Texts are UTF-8. Text number 1 of every language names that language's font.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "text_store/DbHelpers.h"

class QWidget;
class QComboBox;

namespace vark {

class clsResourceMDB {
public:
    clsResourceMDB();
    ~clsResourceMDB();
    clsResourceMDB(const clsResourceMDB&) = delete;
    clsResourceMDB& operator=(const clsResourceMDB&) = delete;

    const std::string& dbName() const { return m_dbName; }
    void setDbName(std::string v) { m_dbName = std::move(v); }
    const std::string& TableName() const { return m_tableName; }
    void setTableName(std::string v) { m_tableName = std::move(v); }
    std::int16_t FontId() const { return m_fontId; }
    void setFontId(std::int16_t v) { m_fontId = v; }
    const std::string& FontName() const { return m_fontName; }
    void setFontName(std::string v) { m_fontName = std::move(v); }
    /// The language code is the name of the text column read. Setting it
    /// does not reload the texts (LoadResData does).
    const std::string& LanguageCode() const { return m_languageCode; }
    void setLanguageCode(std::string vData) { m_languageCode = std::move(vData); }

    /// Text number `id` of the current language; "" when `id` is negative,
    /// beyond the largest number loaded, has no row, or nothing is loaded.
    /// Answers from memory; never touches the database.
    std::string ResourceString(std::int32_t id) const;
    /// (Re)loads every text of LanguageCode: max(id) of TableName (shown by
    /// DAO_SQL2Value and nothing loaded when that query fails), then one
    /// "SELECT id, <LanguageCode> FROM <TableName>" (the code goes in as a
    /// column name), then FontName = text FontId. Any failure on the way
    /// (unknown column, a null maximum or text, an id out of range) is shown
    /// in a critical box titled "clsResourceMDB-LoadREsData" with the
    /// failure's description; rows read before it stay loaded, FontName is
    /// unchanged. Never throws.
    void LoadResData();
    /// FontId = iFontId when iFontId > 0; then FontName = "" when FontId < 1,
    /// else text FontId. Throws Failure (kSubscriptOutOfRange) when FontId
    /// is beyond the loaded texts (or nothing is loaded).
    void SetFontFromDb(std::int16_t iFontId);
    /// Closes the database; never fails.
    void DbClose() noexcept;
    Database& db() { return m_db; }
    /// Opens the text database: `sDBName` when not empty (it becomes dbName),
    /// else dbName (copied back into `sDBName`). Raises the database layer's
    /// failures whatever `bShowErrors` says; returns "" on success.
    std::string DbOpen(std::string& sDBName, bool bShowErrors);

    /// Puts the texts of the current language on `frm` and its child widgets
    /// from their "tag" dynamic property (a string):
    ///  - "n" (a number): the widget's text becomes text n: setText on
    ///    labels, buttons and line edits, setTitle on group boxes,
    ///    setWindowTitle on windows, setPlainText on text edits, the edit
    ///    text of an editable combo box;
    ///  - "n:" (any ":" anywhere): the same, then " :" appended to the
    ///    caption (labels, buttons, group boxes, windows; not to text boxes);
    ///  - containing "tt=m" (ended by "," or the end): tooltip = text m, and
    ///    no caption (the rest of the tag is then not a number);
    ///  - anything else (a word, 0, a negative number, a number above 32767):
    ///    nothing.
    /// A number may have surrounding blanks, a sign and a decimal part
    /// (rounded half to even). A widget whose caption is set also gets, when
    /// `bSetFontToFormFont`, the form's font, and then, when FontName is not
    /// empty, a fresh QFont of that family and default size. The form's own
    /// tag is a plain number that sets its window title. Children are visited
    /// depth first in creation order. Never reports anything.
    void LoadFormLanguageText(QWidget* frm, bool bSetFontToFormFont);
    /// Fills `Listlang` with the language columns of TableName (every column
    /// but "id", in column order). A failure (no open database, no such
    /// table) is shown in a critical box titled "FillLanguageList" and leaves
    /// the list as it was. Always returns "".
    std::string FillLanguageList(QComboBox* Listlang);
    /// Writes LanguageCode to the per-user settings (see ReadLangSetting).
    /// Throws Failure when the settings cannot be written.
    void SaveLangSetting();

    /// Number of text slots loaded (largest id + 1), 0 when none.
    std::size_t loadedCount() const { return m_texts.size(); }

private:
    void SetControlText(QWidget* control, const std::string& text);
    void SetControlFontName(QWidget* control, const std::string& name);

    std::string m_dbName;
    std::string m_tableName;
    std::int16_t m_fontId = 0;
    std::string m_fontName;
    Database m_db;
    std::string m_languageCode;
    std::vector<std::string> m_texts;
};

/// Module state of the text store: the shared store and where InitLanguage
/// looks for the database. Tests replace or reset it.
struct TextStoreState {
    std::unique_ptr<clsResourceMDB> store;
    /// "" = TextDatabasePath(); tests point it at a database of their own.
    std::string databasePathOverride;
    /// The interface language of the program the component runs in ("de",
    /// "pt_BR", ...; "" = none), set by that program's adapter. InitLanguage
    /// starts in it when no language has been saved yet.
    std::string hostLanguage;
    /// A language asked for this run only (a command line's --lang; "" =
    /// none): InitLanguage starts in it whatever is saved. Picking a
    /// language in the dialog ends it.
    std::string runLanguage;
};
TextStoreState& textStoreState();
/// A fresh, empty state (empty store, no override, no host or run language).
void ResetTextStoreState();

/// The shared text store. Never null: an empty store until InitLanguage.
clsResourceMDB& gTextStore();
/// The text database: "text.db" beside the library (a build tree), else in
/// the data folder of an installed tree (LibraryFolder() followed by the
/// relative path VARK_DATA_FROM_LIBRARY that the build gives).
std::string TextDatabasePath();
/// Replaces the shared store by a fresh one and prepares it: reads the
/// language setting (when none is saved: StartLanguage of the host
/// language and the text table's columns), sets dbName (the database beside the library, or the
/// override); when that file is missing shows FileExists' message and
/// leaves the store empty; otherwise TableName "tblText", the language,
/// DbOpen, FontId 1, LoadResData. A failure is shown as "The language
/// initialisation failed. The program cannot be used." (critical icon); the
/// store keeps what it reached. Never throws.
void InitLanguage();

/// The per-user language setting: QSettings organisation "Kelmo_Trelvastin"
/// (no application name: ~/.config/Kelmo_Trelvastin.conf on Linux, the
/// registry on Windows), group "params", key "lang". "fr" when the key is
/// missing or empty.
std::string ReadLangSetting();
/// True when a non-empty language code is saved in the per-user settings.
bool HasLangSetting();

/// The language a store starts in when no language is saved: `hostLanguage`
/// when it is one of `columns` (exact, case-sensitive), else its language
/// part (the text before "_" or "-": "de" for "de_DE") when that is one,
/// else "fr". "id" is never a language.
std::string StartLanguage(const std::string& hostLanguage, const std::vector<std::string>& columns);

}  // namespace vark
