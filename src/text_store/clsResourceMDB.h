#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "text_store/DbHelpers.h"

class QWidget;
class QComboBox;

namespace vark {

/// The multilingual text store: every text of the current language loaded
/// from the text database in one query, answered by number from memory.
class clsResourceMDB {
public:
    clsResourceMDB();
    ~clsResourceMDB();

    const std::string& dbName() const { return m_dbName; }
    void setDbName(std::string v) { m_dbName = std::move(v); }
    const std::string& TableName() const { return m_tableName; }
    void setTableName(std::string v) { m_tableName = std::move(v); }
    std::int16_t FontId() const { return m_fontId; }
    void setFontId(std::int16_t v) { m_fontId = v; }
    const std::string& FontName() const { return m_fontName; }
    void setFontName(std::string v) { m_fontName = std::move(v); }
    /// Setting the code does not reload the texts (LoadResData does).
    const std::string& LanguageCode() const { return m_languageCode; }
    void setLanguageCode(std::string vData) { m_languageCode = std::move(vData); }

    /// Text number `id` of the current language; "" when out of range or not loaded.
    std::string ResourceString(std::int32_t id) const;
    /// (Re)loads every text of LanguageCode. Reports its own failures; never throws.
    void LoadResData();
    /// FontId = iFontId when > 0; FontName = text FontId ("" when FontId < 1).
    /// Throws Failure for an index outside the loaded texts.
    void SetFontFromDb(std::int16_t iFontId);
    void DbClose() noexcept;
    Database& db() { return m_db; }
    /// Opens the text database (sDBName, or dbName when empty; sDBName
    /// receives the path). Throws the database layer's failures.
    std::string DbOpen(std::string& sDBName, bool bShowErrors);

    /// Puts the texts of the current language on the widget and its children
    /// from their "tag" property. Never reports anything.
    void LoadFormLanguageText(QWidget* frm, bool bSetFontToFormFont);
    /// Fills the list with the text table's language columns; reports
    /// failures in a box titled "FillLanguageList". Returns "".
    std::string FillLanguageList(QComboBox* Listlang);
    /// Writes LanguageCode to the per-user settings.
    void SaveLangSetting();

    /// Number of text slots loaded (largest id + 1), 0 when none.
    std::size_t loadedCount() const { return m_texts.size(); }

private:
    std::string m_dbName;
    std::string m_tableName;
    std::int16_t m_fontId = 0;
    std::string m_fontName;
    Database m_db;
    std::string m_languageCode;
    std::vector<std::string> m_texts;
};

/// The shared text store. Never null: an empty store until InitLanguage.
clsResourceMDB& gTextStore();
/// Replaces the shared store by a fresh one, opened and loaded in the
/// language of the per-user setting. Reports its own failures.
void InitLanguage();

/// Settings: application "Kelmo_Trelvastin", section "params", key "lang".
std::string ReadLangSetting();

}  // namespace vark
