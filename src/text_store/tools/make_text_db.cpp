// Build tool: turns the reviewable text table (texts.tsv) into the text
// database text.db that the component reads at run time.
//
//   make_text_db <texts.tsv> <text.db>
//
// Fails (exit code 1, message on stderr naming the line) on a malformed row,
// a duplicate or out-of-range id, an empty cell, invalid UTF-8 or a language
// code that is not a plain identifier. The database is written to a
// temporary file and renamed, so a failed run never leaves a partial text.db.

#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Row {
    long id = 0;
    std::vector<std::string> texts;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        cells.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return cells;
        start = tab + 1;
    }
}

bool IsIdentifier(const std::string& s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    }
    return true;
}

bool IsValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            extra = 3;
        } else {
            return false;
        }
        if (extra > 0 && i + extra >= s.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string Unescape(const std::string& cell, const std::string& where) {
    std::string out;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        if (cell[i] != '\\') {
            out += cell[i];
            continue;
        }
        if (++i == cell.size()) Fail(where, "a cell ends with a lone backslash");
        switch (cell[i]) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                Fail(where, std::string("unknown escape \\") + cell[i]);
        }
    }
    return out;
}

void Parse(const std::string& inputPath, std::vector<std::string>& languages,
           std::vector<Row>& rows) {
    std::ifstream in(inputPath, std::ios::binary);
    if (!in) Fail(inputPath, "cannot be read");
    std::set<long> ids;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        const std::string where = inputPath + ":" + std::to_string(lineNumber);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (!IsValidUtf8(line)) Fail(where, "not valid UTF-8");
        std::vector<std::string> cells = SplitTabs(line);

        if (languages.empty()) {
            if (cells.size() < 2 || cells[0] != "id") {
                Fail(where, "the header must be \"id\" followed by the language codes");
            }
            std::set<std::string> seen;
            for (std::size_t i = 1; i < cells.size(); ++i) {
                if (!IsIdentifier(cells[i]) || cells[i] == "id" || !seen.insert(cells[i]).second) {
                    Fail(where, "bad or repeated language code \"" + cells[i] + "\"");
                }
                languages.push_back(cells[i]);
            }
            continue;
        }

        if (cells.size() != languages.size() + 1) {
            Fail(where, "expected " + std::to_string(languages.size() + 1) + " cells, found " +
                            std::to_string(cells.size()));
        }
        Row row;
        std::size_t used = 0;
        try {
            row.id = std::stol(cells[0], &used);
        } catch (...) {
            used = 0;
        }
        if (used == 0 || used != cells[0].size() || row.id < 0 || row.id > 32767) {
            Fail(where, "the id must be a whole number from 0 to 32767");
        }
        if (!ids.insert(row.id).second) Fail(where, "id " + cells[0] + " appears twice");
        for (std::size_t i = 1; i < cells.size(); ++i) {
            std::string text = Unescape(cells[i], where);
            if (text.empty()) Fail(where, "empty text for language " + languages[i - 1]);
            row.texts.push_back(std::move(text));
        }
        rows.push_back(std::move(row));
    }
    if (languages.empty()) Fail(inputPath, "no header line");
}

void Check(sqlite3* db, int rc, const std::string& what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        Fail(what, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    }
}

void Write(const std::string& outputPath, const std::vector<std::string>& languages,
           const std::vector<Row>& rows) {
    namespace fs = std::filesystem;
    const fs::path target(outputPath);
    const fs::path temporary = fs::path(outputPath + ".tmp");
    fs::remove(temporary);

    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    try {
        Check(db,
              sqlite3_open_v2(temporary.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                              nullptr),
              temporary.string());
        std::string create = "CREATE TABLE tblText (id INTEGER PRIMARY KEY";
        std::string sql = "INSERT INTO tblText VALUES (?";
        for (const std::string& code : languages) {
            create += ", \"" + code + "\" TEXT";
            sql += ", ?";
        }
        create += ")";
        sql += ")";
        Check(db, sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), "create table");
        Check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
        Check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr), "prepare insert");
        for (const Row& row : rows) {
            sqlite3_reset(insert);
            sqlite3_bind_int64(insert, 1, row.id);
            for (std::size_t i = 0; i < row.texts.size(); ++i) {
                sqlite3_bind_text(insert, static_cast<int>(i) + 2, row.texts[i].c_str(),
                                  static_cast<int>(row.texts[i].size()), SQLITE_TRANSIENT);
            }
            Check(db, sqlite3_step(insert), "insert id " + std::to_string(row.id));
        }
        sqlite3_finalize(insert);
        insert = nullptr;
        Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
        Check(db, sqlite3_close(db), "close");
        db = nullptr;
        fs::rename(temporary, target);
    } catch (...) {
        sqlite3_finalize(insert);
        sqlite3_close(db);
        std::error_code ec;
        fs::remove(temporary, ec);
        throw;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_text_db <texts.tsv> <text.db>\n";
        return 2;
    }
    try {
        std::vector<std::string> languages;
        std::vector<Row> rows;
        Parse(argv[1], languages, rows);
        Write(argv[2], languages, rows);
    } catch (const std::exception& e) {
        std::cerr << "make_text_db: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
