#include "text_store/clsResourceMDB.h"

#include <QSettings>
#include <QString>
#include <algorithm>

#include "support/FileFunctions.h"
#include "support/LibraryInfo.h"
#include "support/UiServices.h"

namespace vark {

namespace {

constexpr const char* kSettingsOrganisation = "Kelmo_Trelvastin";
constexpr const char* kLangKey = "params/lang";
constexpr const char* kDefaultLanguage = "fr";

Failure SubscriptOutOfRange() {
    return Failure(err::kSubscriptOutOfRange, "Subscript out of range", err::kRuntimeSource);
}

QSettings LangSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation);
}

}  // namespace

clsResourceMDB::clsResourceMDB() = default;
clsResourceMDB::~clsResourceMDB() = default;

std::string clsResourceMDB::ResourceString(std::int32_t id) const {
    if (id < 0 || static_cast<std::size_t>(id) >= m_texts.size()) return {};
    return m_texts[static_cast<std::size_t>(id)];
}

void clsResourceMDB::LoadResData() {
    m_texts.clear();
    Recordset rs;
    try {
        const DbValue max = DAO_GetMaxValue(m_db, m_tableName, "id", DbValue{0LL}, true);
        const std::int16_t n = DbValueToInt16(max);
        if (n == 0) return;
        if (n < 0) throw SubscriptOutOfRange();
        m_texts.assign(static_cast<std::size_t>(n) + 1, std::string());

        DAO_OpenRs(m_db, rs, "", "SELECT id, " + m_languageCode + " FROM " + m_tableName);
        for (; !rs.EOF_(); rs.MoveNext()) {
            const std::int16_t id = DbValueToInt16(rs.value(0));
            if (id < 0 || id > n) throw SubscriptOutOfRange();
            m_texts[static_cast<std::size_t>(id)] = DbValueToText(rs.value(1));
        }
        SetFontFromDb(0);
        rs.close();
    } catch (...) {
        const Failure failure = CurrentFailure();
        rs.close();
        try {
            Ui().MsgBox(failure.description(), MsgIcon::Critical, MsgButtons::Ok,
                        "clsResourceMDB-LoadREsData");
        } catch (...) {
        }
    }
}

void clsResourceMDB::SetFontFromDb(std::int16_t iFontId) {
    if (iFontId > 0) m_fontId = iFontId;
    if (m_fontId < 1) {
        m_fontName.clear();
        return;
    }
    if (static_cast<std::size_t>(m_fontId) >= m_texts.size()) throw SubscriptOutOfRange();
    m_fontName = m_texts[static_cast<std::size_t>(m_fontId)];
}

void clsResourceMDB::DbClose() noexcept {
    m_db.close();
}

std::string clsResourceMDB::DbOpen(std::string& sDBName, [[maybe_unused]] bool bShowErrors) {
    if (!sDBName.empty()) {
        m_dbName = sDBName;
    } else {
        sDBName = m_dbName;
    }
    // Failures always go to the caller, which reports them itself.
    return DAO_Open(m_db, sDBName, true);
}

void clsResourceMDB::SaveLangSetting() {
    QSettings settings = LangSettings();
    settings.setValue(kLangKey, QString::fromStdString(m_languageCode));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw Failure(
            err::kPermissionDenied,
            "The language setting could not be saved: " + settings.fileName().toStdString(),
            "clsResourceMDB");
    }
}

std::string ReadLangSetting() {
    const QString code = LangSettings().value(kLangKey).toString();
    if (code.isEmpty()) return kDefaultLanguage;
    return code.toStdString();
}

bool HasLangSetting() {
    return !LangSettings().value(kLangKey).toString().isEmpty();
}

std::string StartLanguage(const std::string& hostLanguage,
                          const std::vector<std::string>& columns) {
    const auto isColumn = [&columns](const std::string& code) {
        return !code.empty() && code != "id" &&
               std::find(columns.begin(), columns.end(), code) != columns.end();
    };
    if (isColumn(hostLanguage)) return hostLanguage;
    const std::string language = hostLanguage.substr(0, hostLanguage.find_first_of("_-"));
    if (isColumn(language)) return language;
    return kDefaultLanguage;
}

TextStoreState& textStoreState() {
    static TextStoreState state;
    return state;
}

void ResetTextStoreState() {
    TextStoreState& state = textStoreState();
    state.store = std::make_unique<clsResourceMDB>();
    state.databasePathOverride.clear();
    state.hostLanguage.clear();
    state.runLanguage.clear();
}

clsResourceMDB& gTextStore() {
    TextStoreState& state = textStoreState();
    if (!state.store) state.store = std::make_unique<clsResourceMDB>();
    return *state.store;
}

std::string TextDatabasePath() {
    const std::string beside = JoinPath(LibraryFolder(), "text.db");
#ifdef VARK_DATA_FROM_LIBRARY
    if (!FileExists(beside, false)) {
        return JoinPath(JoinPath(LibraryFolder(), VARK_DATA_FROM_LIBRARY), "text.db");
    }
#endif
    return beside;
}

void InitLanguage() {
    TextStoreState& state = textStoreState();
    try {
        state.store = std::make_unique<clsResourceMDB>();
        clsResourceMDB& store = *state.store;
        std::string language = state.runLanguage.empty() ? ReadLangSetting() : state.runLanguage;
        const bool followHost =
            state.runLanguage.empty() && !state.hostLanguage.empty() && !HasLangSetting();
        store.setDbName(state.databasePathOverride.empty() ? TextDatabasePath()
                                                           : state.databasePathOverride);
        if (!FileExists(store.dbName(), true)) return;

        store.setTableName("tblText");
        store.setLanguageCode(language);
        std::string name;
        store.DbOpen(name, true);
        if (followHost) {
            // Not saved here: a language is saved only when the user picks one.
            language = StartLanguage(state.hostLanguage, TableColumnNames(store.db(), "tblText"));
            store.setLanguageCode(language);
        }
        store.setFontId(1);
        store.LoadResData();
    } catch (...) {
        try {
            Ui().MsgBox("The language initialisation failed. The program cannot be used.",
                        MsgIcon::Critical, MsgButtons::Ok);
        } catch (...) {
        }
    }
}

}  // namespace vark
