#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <regex>
#include <string_view>

#include "host/ogr/OgrData.h"
#include "routes/pg/PgSql.h"
#include "routes/shape/ShapeEncoding.h"

namespace vark::ogr {

using namespace routes;
using namespace pg;

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Paths

std::string NormalisePath(const std::string& path) {
    // Connection strings ("PG:dbname=...") and GDAL virtual paths are not
    // file-system paths. A single letter before ':' is a Windows drive.
    static const std::regex kPrefix("^[A-Za-z][A-Za-z0-9_]+:.*");
    if (path.empty() || path.rfind("/vsi", 0) == 0 || std::regex_match(path, kPrefix)) {
        return path;
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(path), ec);
    if (ec) {
        return path;
    }
    return absolute.lexically_normal().string();
}

namespace {
bool isFileSystemPath(const std::string& path) {
    std::error_code ec;
    return path.rfind("/vsi", 0) != 0 && fs::exists(fs::path(path), ec);
}
}  // namespace

// ---------------------------------------------------------------------------
// OgrSource

OgrSource::OgrSource(GDALDataset* dataset, std::string path, bool readOnly,
                     std::string readOnlyReason, std::shared_ptr<SourceCache> cache)
    : m_dataset(dataset),
      m_path(std::move(path)),
      m_safePath(isFileSystemPath(m_path) ? m_path : WithoutPassword(m_path)),
      m_driver(dataset->GetDriverName() ? dataset->GetDriverName() : ""),
      m_isShapefile(m_driver == "ESRI Shapefile"),
      m_readOnly(readOnly),
      m_readOnlyReason(std::move(readOnlyReason)),
      m_cache(std::move(cache)) {
    markPostgresSession();
    if (m_isShapefile) {
        m_workspaceType = host::kWorkspaceFileSystem;
    } else if (isFileSystemPath(m_path)) {
        m_workspaceType = host::kWorkspaceLocalDatabase;
    } else {
        m_workspaceType = host::kWorkspaceRemoteDatabase;
    }
}

OgrSource::~OgrSource() {
    closeDataset();
}

void OgrSource::closeDataset() noexcept {
    if (!m_dataset) {
        return;
    }
    GdalErrorScope scope;
    if (m_inTransaction) {
        m_dataset->RollbackTransaction();
    }
    GDALClose(m_dataset);
    m_dataset = nullptr;
}

void OgrSource::markPostgresSession() noexcept {
    m_pgMark.reset();
    if (!isPostgres() || !m_dataset) {
        return;
    }
    // Before any table is read through the data set: what GDAL reads of a
    // table later is at least as recent as this mark.
    GdalErrorScope scope;
    OGRLayer* result = m_dataset->ExecuteSQL(kSessionMarkSql, nullptr, nullptr);
    if (result == nullptr) {
        return;
    }
    if (OGRFeature* row = result->GetNextFeature(); row != nullptr) {
        const FeaturePtr owned(row);
        const int horizon = row->GetFieldIndex("horizon");
        const int pid = row->GetFieldIndex("pid");
        if (horizon >= 0 && pid >= 0 && row->IsFieldSetAndNotNull(horizon) &&
            row->IsFieldSetAndNotNull(pid)) {
            if (const auto mark =
                    ParseSessionMark(row->GetFieldAsString(horizon), row->GetFieldAsString(pid))) {
                m_pgMark = std::make_unique<PgSessionMark>(*mark);
            }
        }
    }
    m_dataset->ReleaseResultSet(result);
}

GDALDataset& OgrSource::dataset() {
    if (!m_dataset && m_reopenPending) {
        openAgain();
    }
    if (!m_dataset) {
        throw gdalFailure("The data source " + m_safePath + " could not be opened again");
    }
    return *m_dataset;
}

std::shared_ptr<PgConnection> OgrSource::postgres() {
    if (!isPostgres()) {
        return nullptr;
    }
    if (!m_pg) {
        m_pg = std::make_shared<PgConnection>(m_path);
    }
    return m_pg;
}

std::string OgrSource::workspacePath() const {
    if (m_workspaceType != host::kWorkspaceFileSystem) {
        return m_safePath;
    }
    std::error_code ec;
    if (fs::is_directory(fs::path(m_path), ec)) {
        return m_path;
    }
    return fs::path(m_path).parent_path().string();
}

namespace {

bool hasExtension(const fs::path& path, std::initializer_list<std::string_view> extensions) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

/// Calls the registration function `name` of a GDAL driver, when the
/// library exports it. False when it does not.
bool registerDriver(const char* name) {
    using RegisterFn = void (*)();
    void* symbol = dlsym(RTLD_DEFAULT, name);
    if (symbol == nullptr) {
        return false;
    }
    reinterpret_cast<RegisterFn>(symbol)();
    return true;
}

/// Opens `path` for update, read-only when GDAL refuses the update, with
/// the shapefile driver's open option ENCODING=kAnsiCodePage when `ansi`.
GDALDataset* openDatasetOnce(const std::string& path, bool ansi, bool& readOnly,
                             std::string& reason, std::string& readFailure) {
    // The shapefile writer would otherwise re-orient the rings of every
    // polygon it stores; a stored feature must keep its geometry as it was.
    const char* previous = CPLGetThreadLocalConfigOption("SHAPE_REWIND_ON_WRITE", nullptr);
    const std::string saved = previous ? previous : "";
    CPLSetThreadLocalConfigOption("SHAPE_REWIND_ON_WRITE", "NO");

    const std::string encoding = std::string("ENCODING=") + kAnsiCodePage;
    const char* const ansiOptions[] = {encoding.c_str(), nullptr};
    const char* const* options = ansi ? ansiOptions : nullptr;

    GDALDataset* dataset = nullptr;
    reason.clear();
    readFailure.clear();
    {
        GdalErrorScope scope;
        dataset = GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, options,
                                    nullptr);
        if (!dataset) {
            reason = scope.message();
        }
    }
    readOnly = false;
    if (!dataset) {
        GdalErrorScope scope;
        dataset = GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr,
                                    options, nullptr);
        readOnly = dataset != nullptr;
        readFailure = scope.message();
    }
    CPLSetThreadLocalConfigOption("SHAPE_REWIND_ON_WRITE", previous ? saved.c_str() : nullptr);
    return dataset;
}

/// True when `dataset` is one shapefile whose table is to be read in the
/// ANSI code page (TakesAnsiCodePage). A folder of shapefiles is not: its
/// shapefiles are opened one by one for their feature classes.
bool readsAnsiCodePage(GDALDataset& dataset, const std::string& path) {
    const char* driver = dataset.GetDriverName();
    std::error_code ec;
    if (driver == nullptr || std::strcmp(driver, "ESRI Shapefile") != 0 ||
        dataset.GetLayerCount() != 1 || !fs::is_regular_file(fs::path(path), ec)) {
        return false;
    }
    OGRLayer* layer = dataset.GetLayer(0);
    return layer != nullptr && TakesAnsiCodePage(*layer);
}

/// Opens `path` as openDatasetOnce does, a shapefile whose table says only
/// "ANSI" in that code page. The table's byte is looked at first, so that
/// the data set is opened twice only when the guess was wrong (a .cpg).
GDALDataset* openDataset(const std::string& path, bool& readOnly, std::string& reason,
                         std::string& readFailure) {
    const bool guess = MayTakeAnsiCodePage(path);
    GDALDataset* dataset = openDatasetOnce(path, guess, readOnly, reason, readFailure);
    if (dataset && readsAnsiCodePage(*dataset, path) != guess) {
        GDALClose(dataset);
        dataset = openDatasetOnce(path, !guess, readOnly, reason, readFailure);
    }
    return dataset;
}

}  // namespace

void SourceCache::registerDriversFor(const std::string& path, bool everything) {
    if (m_everyDriver) {
        return;
    }
    if (!everything) {
        // A server's connection string: its driver alone (and the memory
        // driver, which holds the rows of its SQL without a table), not the
        // scan of the plugin folder and the registering of every driver.
        if (IsPostgresConnection(path) && registerDriver("RegisterOGRPG")) {
            registerDriver("RegisterOGRMEM");
            return;
        }
        std::error_code ec;
        const fs::path file(path);
        if (fs::is_regular_file(file, ec)) {
            if (hasExtension(file, {".shp", ".shx", ".dbf"}) &&
                registerDriver("RegisterOGRShape")) {
                return;
            }
            if (hasExtension(file, {".gpkg"}) && registerDriver("RegisterOGRGeoPackage")) {
                return;
            }
        }
    }
    GDALAllRegister();
    m_everyDriver = true;
}

std::shared_ptr<OgrSource> SourceCache::open(const std::string& rawPath) {
    const std::string path = NormalisePath(rawPath);
    if (auto it = m_sources.find(path); it != m_sources.end()) {
        if (auto alive = it->second.lock()) {
            return alive;
        }
    }
    bool readOnly = false;
    std::string reason;
    std::string readFailure;
    registerDriversFor(path, false);
    GDALDataset* dataset = openDataset(path, readOnly, reason, readFailure);
    if (!dataset && !m_everyDriver) {
        // The format's own driver could not open it: let every driver try.
        registerDriversFor(path, true);
        dataset = openDataset(path, readOnly, reason, readFailure);
    }

    if (!dataset) {
        throw gdalFailure("Cannot open the data source " + WithoutPassword(path),
                          readFailure.empty() ? reason : readFailure);
    }
    if (readOnly && reason.empty()) {
        reason = "the driver cannot update it";
    }
    auto source =
        std::make_shared<OgrSource>(dataset, path, readOnly, std::move(reason), shared_from_this());
    m_sources[path] = source;
    return source;
}

void OgrSource::reopen() {
    reopenLater();
    openAgain();
}

void OgrSource::reopenLater() noexcept {
    // The old data set goes first: two at once would hold two copies of a
    // large shapefile's index.
    closeDataset();
    m_pgMark.reset();
    m_reopenPending = true;
    m_inTransaction = false;
    m_runTransaction = false;
    m_layerState.clear();
    ++m_generation;
}

void OgrSource::openAgain() {
    bool readOnly = false;
    std::string reason;
    std::string readFailure;
    m_dataset = openDataset(m_path, readOnly, reason, readFailure);
    if (!m_dataset) {
        throw gdalFailure("Cannot open the data source " + m_safePath + " again",
                          readFailure.empty() ? reason : readFailure);
    }
    m_reopenPending = false;
    markPostgresSession();
}

// ---------------------------------------------------------------------------
// Workspaces

std::shared_ptr<host::FeatureClass> OgrFolderWorkspace::OpenFeatureClass(const std::string& name) {
    std::error_code ec;
    fs::path file = fs::path(m_folder) / (name + ".shp");
    if (!fs::exists(file, ec)) {
        fs::path upper = fs::path(m_folder) / (name + ".SHP");
        if (fs::exists(upper, ec)) {
            file = upper;
        } else {
            throw Failure(err::kFileNotFound,
                          "No shapefile " + name + ".shp in the folder " + m_folder, kGdalSource);
        }
    }
    auto source = m_cache->open(file.string());
    if (!source->isShapefile() || source->dataset().GetLayerCount() < 1) {
        throw gdalFailure("Cannot open " + file.string() + " as a shapefile");
    }
    return std::make_shared<OgrFeatureClass>(source, source->dataset().GetLayer(0));
}

std::shared_ptr<host::FeatureClass> OgrDatasetWorkspace::OpenFeatureClass(const std::string& name) {
    GdalErrorScope scope;
    OGRLayer* layer = m_source->dataset().GetLayerByName(name.c_str());
    if (!layer) {
        throw gdalFailure("No layer " + name + " in " + m_source->path(), scope);
    }
    return std::make_shared<OgrFeatureClass>(m_source, layer);
}

// ---------------------------------------------------------------------------
// Dates: days since 1899-12-30, the epoch of the host's date values.

namespace {
// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::int64_t kOleEpochFromUnix = -25569;  // 1899-12-30 relative to 1970-01-01
}  // namespace

double ToOleDate(int year, int month, int day, int hour, int minute, float second) {
    if (month < 1 || month > 12 || day < 1) {
        // A time without a date: the epoch's day.
        year = 1899;
        month = 12;
        day = 30;
    }
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kOleEpochFromUnix;
    return static_cast<double>(days) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

void FromOleDate(double date, int& year, int& month, int& day, int& hour, int& minute,
                 float& second) {
    const double whole = std::floor(date);
    double seconds = std::round((date - whole) * 86400.0 * 1000.0) / 1000.0;
    std::int64_t days = static_cast<std::int64_t>(whole);
    if (seconds >= 86400.0) {
        seconds -= 86400.0;
        ++days;
    }
    civilFromDays(days + kOleEpochFromUnix, year, month, day);
    hour = static_cast<int>(seconds / 3600.0);
    minute = static_cast<int>((seconds - hour * 3600.0) / 60.0);
    second = static_cast<float>(seconds - hour * 3600.0 - minute * 60.0);
}

}  // namespace vark::ogr
