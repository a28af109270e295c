#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "host/ogr/OgrData.h"

namespace vark::ogr {

using host::Value;

namespace {

std::size_t utf8Length(const std::string& s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string geometryFieldName(const OGRGeomFieldDefn& defn) {
    const char* name = defn.GetNameRef();
    return (name && *name) ? name : "Shape";
}

}  // namespace

std::int32_t HostFieldType(const OGRFieldDefn& defn) {
    switch (defn.GetType()) {
        case OFTInteger:
            return (defn.GetSubType() == OFSTInt16 || defn.GetSubType() == OFSTBoolean)
                       ? host::kFieldShort
                       : host::kFieldLong;
        case OFTInteger64:
            return host::kFieldLong;
        case OFTReal:
            return defn.GetSubType() == OFSTFloat32 ? host::kFieldSingle : host::kFieldDouble;
        case OFTString:
            return defn.GetSubType() == OFSTUUID ? host::kFieldGuid : host::kFieldText;
        case OFTDate:
        case OFTDateTime:
        case OFTTime:
            return host::kFieldDate;
        default:
            return host::kFieldBlob;
    }
}

// ---------------------------------------------------------------------------
// OgrFeatureClass

OgrFeatureClass::OgrFeatureClass(std::shared_ptr<OgrSource> source, OGRLayer* layer)
    : m_source(std::move(source)), m_layer(layer) {}

std::int32_t OgrFeatureClass::GetShapeType() const {
    if (m_layer->GetLayerDefn()->GetGeomFieldCount() == 0) {
        return host::kShapeNull;
    }
    switch (wkbFlatten(m_layer->GetGeomType())) {
        case wkbPoint:
            return host::kShapePoint;
        case wkbMultiPoint:
            return host::kShapeMultipoint;
        case wkbLineString:
        case wkbMultiLineString:
        case wkbCircularString:
        case wkbCompoundCurve:
        case wkbMultiCurve:
            return host::kShapePolyline;
        case wkbPolygon:
        case wkbMultiPolygon:
        case wkbCurvePolygon:
        case wkbMultiSurface:
        case wkbTriangle:
        case wkbTIN:
        case wkbPolyhedralSurface:
            return host::kShapePolygon;
        default:
            return host::kShapeNull;
    }
}

std::shared_ptr<host::Workspace> OgrFeatureClass::GetWorkspace() {
    if (m_source->workspaceType() == host::kWorkspaceFileSystem) {
        return std::make_shared<OgrFolderWorkspace>(m_source->workspacePath(), m_source->cache());
    }
    return std::make_shared<OgrDatasetWorkspace>(m_source);
}

host::Fields OgrFeatureClass::GetFields() {
    OGRFeatureDefn* defn = m_layer->GetLayerDefn();
    std::vector<host::Field> fields;
    fields.reserve(static_cast<std::size_t>(1 + defn->GetGeomFieldCount() + defn->GetFieldCount()));

    host::Field oid;
    const char* fidColumn = m_layer->GetFIDColumn();
    oid.SetFieldName((fidColumn && *fidColumn) ? fidColumn : "FID");
    oid.SetFieldType(host::kFieldOid);
    fields.push_back(std::move(oid));

    for (int g = 0; g < defn->GetGeomFieldCount(); ++g) {
        host::Field geometry;
        geometry.SetFieldName(geometryFieldName(*defn->GetGeomFieldDefn(g)));
        geometry.SetFieldType(host::kFieldGeometry);
        fields.push_back(std::move(geometry));
    }
    for (int a = 0; a < defn->GetFieldCount(); ++a) {
        const OGRFieldDefn* fieldDefn = defn->GetFieldDefn(a);
        host::Field field;
        field.SetFieldName(fieldDefn->GetNameRef());
        if (const char* alias = fieldDefn->GetAlternativeNameRef(); alias && *alias) {
            field.SetFieldAlias(alias);
        }
        field.SetFieldType(HostFieldType(*fieldDefn));
        field.SetFieldLength(fieldDefn->GetWidth());
        field.SetFieldPrecision(fieldDefn->GetPrecision());
        fields.push_back(std::move(field));
    }
    return host::Fields(std::move(fields));
}

Column OgrFeatureClass::column(std::int32_t index) const {
    OGRFeatureDefn* defn = m_layer->GetLayerDefn();
    const int geometries = defn->GetGeomFieldCount();
    if (index == 0) {
        return {Column::kOid, 0};
    }
    if (index > 0 && index <= geometries) {
        return {Column::kGeometry, index - 1};
    }
    const int attr = index - 1 - geometries;
    if (index < 0 || attr >= defn->GetFieldCount()) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Field index " + std::to_string(index) + " out of range in " + describe(),
                      kGdalSource);
    }
    return {Column::kAttribute, attr};
}

std::int32_t OgrFeatureClass::attributeType(int attr) const {
    return HostFieldType(*m_layer->GetLayerDefn()->GetFieldDefn(attr));
}

std::int32_t OgrFeatureClass::fieldType(std::int32_t index) const {
    const Column c = column(index);
    switch (c.kind) {
        case Column::kOid:
            return host::kFieldOid;
        case Column::kGeometry:
            return host::kFieldGeometry;
        default:
            return attributeType(c.index);
    }
}

std::string OgrFeatureClass::fieldName(std::int32_t index) const {
    const Column c = column(index);
    OGRFeatureDefn* defn = m_layer->GetLayerDefn();
    switch (c.kind) {
        case Column::kOid: {
            const char* fid = m_layer->GetFIDColumn();
            return (fid && *fid) ? fid : "FID";
        }
        case Column::kGeometry:
            return geometryFieldName(*defn->GetGeomFieldDefn(c.index));
        default:
            return defn->GetFieldDefn(c.index)->GetNameRef();
    }
}

std::string OgrFeatureClass::describe() const {
    return "layer " + std::string(m_layer->GetName()) + " of " + m_source->path();
}

void OgrFeatureClass::ensureWritable(const std::string& action) const {
    if (m_source->readOnly()) {
        std::string description = action + ": " + m_source->path() + " is open read-only";
        if (!m_source->readOnlyReason().empty()) {
            description += " (" + m_source->readOnlyReason() + ")";
        }
        throw Failure(err::kHostFailure, description, kGdalSource);
    }
}

void OgrFeatureClass::AddFieldToClass(const host::Field& field) {
    const std::string& name = field.GetFieldName();
    const std::string what = "Cannot add the field " + name + " to " + describe();
    if (name.empty()) {
        throw gdalFailure("Cannot add a field without a name to " + describe());
    }
    ensureWritable(what);
    if (!m_layer->TestCapability(OLCCreateField)) {
        throw gdalFailure(what + ": the format does not allow new fields");
    }

    OGRFieldType type = OFTReal;
    OGRFieldSubType subType = OFSTNone;
    switch (field.GetFieldType()) {
        case host::kFieldShort:
            type = OFTInteger;
            subType = OFSTInt16;
            break;
        case host::kFieldLong:
            type = OFTInteger;
            break;
        case host::kFieldSingle:
            subType = OFSTFloat32;
            break;
        case host::kFieldDouble:
            break;
        case host::kFieldText:
            type = OFTString;
            break;
        case host::kFieldDate:
            type = m_source->isShapefile() ? OFTDate : OFTDateTime;
            break;
        default:
            throw gdalFailure(what + ": fields of type " + std::to_string(field.GetFieldType()) +
                              " cannot be added");
    }

    // OGR compares field names without regard to case, and so do the
    // formats behind it (dBASE, SQL): a name differing only in case is taken.
    const host::Fields existing = GetFields();
    for (std::int32_t i = 0; i < existing.GetFieldCount(); ++i) {
        const std::string& other = existing.GetField(i).GetFieldName();
        if (equalsIgnoringAsciiCase(other, name)) {
            throw gdalFailure(what + ": the layer already has a field named " + other);
        }
    }
    // The shapefile driver would silently truncate a longer name (and make
    // it unique with a suffix): the caller would then not find its field.
    if (m_source->isShapefile() && utf8Length(name) > 10) {
        throw gdalFailure(what + ": a shapefile field name has at most 10 characters");
    }

    OGRFieldDefn defn(name.c_str(), type);
    defn.SetSubType(subType);
    if (field.GetFieldLength() > 0) {
        defn.SetWidth(field.GetFieldLength());
    }
    if (field.GetFieldPrecision() > 0) {
        defn.SetPrecision(field.GetFieldPrecision());
    }

    // Adding a field rewrites the table of some formats: any pass in
    // progress over this layer is over.
    m_source->claim(m_layer);
    m_source->schemaChanged(m_layer);

    GdalErrorScope scope;
    if (m_layer->CreateField(&defn, FALSE) != OGRERR_NONE) {
        throw gdalFailure(what, scope);
    }
    OGRFeatureDefn* layerDefn = m_layer->GetLayerDefn();
    const int created = layerDefn->GetFieldCount() - 1;
    const char* createdName = created >= 0 ? layerDefn->GetFieldDefn(created)->GetNameRef() : "";
    if (name != createdName) {
        const std::string changed = createdName;
        m_layer->DeleteField(created);
        m_source->schemaChanged(m_layer);
        throw gdalFailure(what + ": the format would have named it " + changed);
    }
}

std::int64_t OgrFeatureClass::GetFeatureCount() {
    GdalErrorScope scope;
    if (m_layer->GetAttrQueryString() != nullptr) {
        return -1;  // a cursor's filter is in force: the count would be of its features
    }
    const GIntBig count = m_layer->GetFeatureCount(FALSE);
    return count < 0 ? -1 : static_cast<std::int64_t>(count);
}

// ---------------------------------------------------------------------------
// FeatureReader

FeatureReader::FeatureReader(std::shared_ptr<OgrFeatureClass> featureClass, std::string where,
                             Mode mode)
    : m_class(std::move(featureClass)), m_where(std::move(where)), m_mode(mode) {}

FeatureReader::~FeatureReader() {
    if (m_started && !m_finished) {
        release();
    }
}

void FeatureReader::restrictTo(int attr) {
    restrictTo(attr < 0 ? std::vector<int>{} : std::vector<int>{attr});
}

void FeatureReader::restrictTo(std::vector<int> attrs) {
    if (!m_started) {
        m_only = std::move(attrs);
        m_restricted = true;
    }
}

std::int64_t FeatureReader::expectedCount() {
    if (!m_where.empty()) {
        return -1;
    }
    return m_class->GetFeatureCount();
}

void FeatureReader::start() {
    OGRLayer* layer = m_class->layer();
    m_claim = m_class->source().claim(layer);
    m_started = true;

    GdalErrorScope scope;
    if (layer->SetAttributeFilter(m_where.empty() ? nullptr : m_where.c_str()) != OGRERR_NONE) {
        m_finished = true;
        throw gdalFailure("Invalid where clause \"" + m_where + "\" for " + m_class->describe(),
                          scope);
    }

    // A feature written back must carry everything it was read with: some
    // drivers write an ignored geometry or field as empty. Update passes
    // therefore read everything; read-only passes skip the geometry.
    CPLStringList ignored;
    if (m_mode == Mode::kRead) {
        OGRFeatureDefn* defn = layer->GetLayerDefn();
        for (int g = 0; g < defn->GetGeomFieldCount(); ++g) {
            const char* name = defn->GetGeomFieldDefn(g)->GetNameRef();
            ignored.AddString((name && *name) ? name : "OGR_GEOMETRY");
        }
        ignored.AddString("OGR_STYLE");
        if (m_restricted) {
            for (int a = 0; a < defn->GetFieldCount(); ++a) {
                if (std::find(m_only.begin(), m_only.end(), a) == m_only.end()) {
                    ignored.AddString(defn->GetFieldDefn(a)->GetNameRef());
                }
            }
        }
    }
    if (layer->SetIgnoredFields(ignored.Count() ? const_cast<const char**>(ignored.List())
                                                : nullptr) != OGRERR_NONE) {
        m_finished = true;
        throw gdalFailure("Cannot prepare the reading of " + m_class->describe(), scope);
    }
    layer->ResetReading();
}

void FeatureReader::release() {
    m_finished = true;
    OGRLayer* layer = m_class->layer();
    if (m_class->source().currentClaim(layer) != m_claim) {
        return;
    }
    GdalErrorScope scope;
    layer->SetIgnoredFields(nullptr);
    if (!m_where.empty()) {
        layer->SetAttributeFilter(nullptr);
    }
}

FeaturePtr FeatureReader::next() {
    if (m_finished) {
        return nullptr;
    }
    if (!m_started) {
        start();
    } else if (m_class->source().currentClaim(m_class->layer()) != m_claim) {
        m_finished = true;
        throw gdalFailure("The pass over " + m_class->describe() +
                          " was interrupted by another cursor or a change of its fields");
    }
    // The hot path: no handler installed per feature (that would allocate);
    // GDAL's last error tells whether a null feature is the end or a failure.
    CPLErrorReset();
    FeaturePtr feature(m_class->layer()->GetNextFeature());
    if (!feature) {
        const bool failed = CPLGetLastErrorType() == CE_Failure;
        const std::string message = failed ? CPLGetLastErrorMsg() : "";
        release();
        if (failed) {
            throw gdalFailure("Cannot read the features of " + m_class->describe(), message);
        }
    }
    return feature;
}

// ---------------------------------------------------------------------------
// Rows

namespace {

std::optional<double> toNumber(const Value& value, const std::string& fieldName) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return static_cast<double>(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        return *d;
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
        double number = 0;
        auto res = std::from_chars(s->data(), s->data() + s->size(), number);
        if (res.ec != std::errc() || res.ptr != s->data() + s->size()) {
            throw Failure(err::kTypeMismatch,
                          "Type mismatch: \"" + *s + "\" for the field " + fieldName, kGdalSource);
        }
        return number;
    }
    return std::nullopt;
}

const std::string_view kEmptyText{};

/// The host fields a row of a column update may read and change.
struct ColumnMask {
    std::vector<bool> readable;
    std::vector<bool> writable;
};

enum class Access { kRead, kWrite };

class OgrRow : public host::Row {
public:
    OgrRow(std::shared_ptr<OgrFeatureClass> owner, FeaturePtr feature,
           std::shared_ptr<const ColumnMask> mask = nullptr)
        : m_owner(std::move(owner)), m_mask(std::move(mask)) {
        reset(std::move(feature));
    }

    void reset(FeaturePtr feature) {
        m_feature = std::move(feature);
        m_schema = m_owner->source().schemaVersion(m_owner->layer());
    }

    Value GetRowValue(std::int32_t index) const override {
        const Column c = checkedColumn(index, Access::kRead);
        OGRFeature& f = *m_feature;
        if (c.kind == Column::kOid) {
            return static_cast<std::int64_t>(f.GetFID());
        }
        if (c.kind == Column::kGeometry) {
            return {};
        }
        const int a = c.index;
        const OGRFieldType type = f.GetFieldDefnRef(a)->GetType();
        if (!f.IsFieldSetAndNotNull(a)) {
            if (type == OFTString && m_owner->textNullAsEmpty()) {
                return std::string();
            }
            return {};
        }
        switch (type) {
            case OFTInteger:
                return static_cast<std::int64_t>(f.GetFieldAsInteger(a));
            case OFTInteger64:
                return static_cast<std::int64_t>(f.GetFieldAsInteger64(a));
            case OFTReal:
                return f.GetFieldAsDouble(a);
            case OFTDate:
            case OFTDateTime:
            case OFTTime: {
                int y = 0, m = 0, d = 0, h = 0, mi = 0, tz = 0;
                float s = 0;
                f.GetFieldAsDateTime(a, &y, &m, &d, &h, &mi, &s, &tz);
                return ToOleDate(y, m, d, h, mi, s);
            }
            case OFTBinary:
                return {};
            default:
                return std::string(f.GetFieldAsString(a));
        }
    }

    void SetRowValue(std::int32_t index, const Value& value) override {
        const Column c = checkedColumn(index, Access::kWrite);
        if (c.kind != Column::kAttribute) {
            throw gdalFailure("The field " + m_owner->fieldName(index) + " of " +
                              m_owner->describe() + " cannot be written");
        }
        OGRFeature& f = *m_feature;
        const int a = c.index;
        if (host::IsNull(value)) {
            f.SetFieldNull(a);
            return;
        }
        const OGRFieldDefn* defn = f.GetFieldDefnRef(a);
        switch (defn->GetType()) {
            case OFTString:
                if (const auto* s = std::get_if<std::string>(&value)) {
                    f.SetField(a, s->c_str());
                } else {
                    f.SetField(a, host::ValueToText(value).c_str());
                }
                return;
            case OFTInteger:
            case OFTInteger64:
                f.SetField(
                    a, static_cast<GIntBig>(std::llround(*toNumber(value, defn->GetNameRef()))));
                return;
            case OFTReal: {
                double number = *toNumber(value, defn->GetNameRef());
                if (defn->GetSubType() == OFSTFloat32) {
                    number = static_cast<float>(number);
                }
                f.SetField(a, number);
                return;
            }
            case OFTDate:
            case OFTDateTime:
            case OFTTime: {
                int y = 0, m = 0, d = 0, h = 0, mi = 0;
                float s = 0;
                FromOleDate(*toNumber(value, defn->GetNameRef()), y, m, d, h, mi, s);
                f.SetField(a, y, m, d, h, mi, s, 0);
                return;
            }
            default:
                throw gdalFailure("The field " + std::string(defn->GetNameRef()) + " of " +
                                  m_owner->describe() + " cannot be written by this host");
        }
    }

    std::optional<std::string_view> GetRowText(std::int32_t index) const override {
        const Column c = checkedColumn(index, Access::kRead);
        if (c.kind == Column::kAttribute &&
            m_feature->GetFieldDefnRef(c.index)->GetType() == OFTString) {
            if (!m_feature->IsFieldSetAndNotNull(c.index)) {
                if (m_owner->textNullAsEmpty()) {
                    return kEmptyText;
                }
                return std::nullopt;
            }
            return std::string_view(m_feature->GetFieldAsString(c.index));
        }
        const Value v = GetRowValue(index);
        if (host::IsNull(v)) {
            return std::nullopt;
        }
        m_scratch = host::ValueToText(v);
        return std::string_view(m_scratch);
    }

    void SetRowDouble(std::int32_t index, double value) override {
        const Column c = checkedColumn(index, Access::kWrite);
        if (c.kind == Column::kAttribute) {
            const OGRFieldDefn* defn = m_feature->GetFieldDefnRef(c.index);
            if (defn->GetType() == OFTReal && defn->GetSubType() != OFSTFloat32) {
                m_feature->SetField(c.index, value);
                return;
            }
        }
        SetRowValue(index, value);
    }

    OGRFeature* feature() const { return m_feature.get(); }
    const OgrFeatureClass* owner() const { return m_owner.get(); }
    bool schemaCurrent() const {
        return m_schema == m_owner->source().schemaVersion(m_owner->layer());
    }

private:
    Column checkedColumn(std::int32_t index, Access access) const {
        if (!schemaCurrent()) {
            throw gdalFailure("A feature of " + m_owner->describe() +
                              " was read before its fields changed; read it again");
        }
        if (m_mask) {
            const auto& allowed = access == Access::kRead ? m_mask->readable : m_mask->writable;
            const auto at = static_cast<std::size_t>(index);
            if (index < 0 || at >= allowed.size() || !allowed[at]) {
                throw gdalFailure("The field " + std::to_string(index) + " of " +
                                  m_owner->describe() + " was not named for this pass (" +
                                  (access == Access::kRead ? "reading" : "writing") + ")");
            }
        }
        return m_owner->column(index);
    }

    std::shared_ptr<OgrFeatureClass> m_owner;
    std::shared_ptr<const ColumnMask> m_mask;
    FeaturePtr m_feature;
    std::uint64_t m_schema = 0;
    mutable std::string m_scratch;
};

// Hands out rows: one recycled Row when asked, a fresh one per feature
// otherwise.
class RowSource {
public:
    RowSource(std::shared_ptr<OgrFeatureClass> owner, bool recycling,
              std::shared_ptr<const ColumnMask> mask = nullptr)
        : m_owner(std::move(owner)), m_recycling(recycling), m_mask(std::move(mask)) {}

    std::shared_ptr<host::Row> wrap(FeaturePtr feature) {
        if (!feature) {
            return nullptr;
        }
        if (m_recycling && m_row) {
            m_row->reset(std::move(feature));
        } else {
            m_row = std::make_shared<OgrRow>(m_owner, std::move(feature), m_mask);
        }
        return m_row;
    }

private:
    std::shared_ptr<OgrFeatureClass> m_owner;
    bool m_recycling;
    std::shared_ptr<const ColumnMask> m_mask;
    std::shared_ptr<OgrRow> m_row;
};

class OgrSearchCursor : public host::Cursor, public NativeCursor {
public:
    OgrSearchCursor(std::shared_ptr<OgrFeatureClass> owner, std::string where, bool recycling)
        : m_reader(owner, std::move(where), FeatureReader::Mode::kRead),
          m_rows(std::move(owner), recycling) {}

    std::shared_ptr<host::Row> NextRow() override { return m_rows.wrap(m_reader.next()); }
    FeatureReader& reader() override { return m_reader; }

private:
    FeatureReader m_reader;
    RowSource m_rows;
};

// The transaction of one update pass, where the data set has them: started
// before the first read, committed by commit(), rolled back when the pass is
// dropped unfinished.
class PassTransaction {
public:
    explicit PassTransaction(OgrFeatureClass& owner)
        : m_owner(owner),
          m_available(owner.source().dataset().TestCapability(ODsCTransactions) != 0) {}
    ~PassTransaction() {
        if (m_open) {
            GdalErrorScope scope;
            m_owner.source().dataset().RollbackTransaction();
            m_owner.source().setInTransaction(false);
        }
    }
    PassTransaction(const PassTransaction&) = delete;
    PassTransaction& operator=(const PassTransaction&) = delete;

    /// Starts the transaction when the data set has them and none is open.
    void ensureStarted() {
        if (!m_available || m_open) {
            return;
        }
        OgrSource& source = m_owner.source();
        if (source.inTransaction()) {
            throw gdalFailure("Cannot update " + m_owner.describe() +
                              ": another update of the data set is in progress");
        }
        GdalErrorScope scope;
        if (source.dataset().StartTransaction(FALSE) != OGRERR_NONE) {
            throw gdalFailure("Cannot start a transaction on " + m_owner.describe(), scope);
        }
        source.setInTransaction(true);
        m_open = true;
    }

    /// Commits the open transaction; false when none was open.
    bool commit() {
        if (!m_open) {
            return false;
        }
        GdalErrorScope scope;
        m_open = false;
        m_owner.source().setInTransaction(false);
        if (m_owner.source().dataset().CommitTransaction() != OGRERR_NONE) {
            throw gdalFailure("Cannot commit the changes to " + m_owner.describe(), scope);
        }
        return true;
    }

private:
    OgrFeatureClass& m_owner;
    bool m_available;
    bool m_open = false;
};

// The row handed to StoreRow, checked to be a current row of this pass.
OgrRow& RowOfPass(host::Row& row, const OgrFeatureClass& owner) {
    auto* ogrRow = dynamic_cast<OgrRow*>(&row);
    if (!ogrRow || ogrRow->owner() != &owner || !ogrRow->feature()) {
        throw gdalFailure("StoreRow: the row does not come from a cursor of " + owner.describe());
    }
    if (!ogrRow->schemaCurrent()) {
        throw gdalFailure("StoreRow: the feature was read before the fields of " +
                          owner.describe() + " changed");
    }
    return *ogrRow;
}

class OgrUpdateCursor : public host::UpdateCursor, public NativeCursor {
public:
    OgrUpdateCursor(std::shared_ptr<OgrFeatureClass> owner, std::string where, bool recycling)
        : m_owner(owner),
          m_reader(owner, std::move(where), FeatureReader::Mode::kUpdate),
          m_rows(owner, recycling),
          m_transaction(*owner) {}

    std::shared_ptr<host::Row> NextRow() override {
        // The transaction starts before the first read: some drivers reset
        // their reading when a transaction begins.
        if (!m_reader.started()) {
            m_transaction.ensureStarted();
        }
        return m_rows.wrap(m_reader.next());
    }

    void StoreRow(host::Row& row) override {
        OgrRow& ogrRow = RowOfPass(row, *m_owner);
        m_transaction.ensureStarted();
        OGRFeature* feature = ogrRow.feature();
        CPLErrorReset();
        const OGRErr result = m_owner->layer()->SetFeature(feature);
        const CPLErr level = CPLGetLastErrorType();
        // A warning here means a value was not stored as given (a number too
        // wide for a dBASE field, say): that is lost data, not a detail.
        if (result != OGRERR_NONE || level == CE_Failure || level == CE_Warning) {
            throw gdalFailure("Cannot store the feature " + std::to_string(feature->GetFID()) +
                                  " of " + m_owner->describe(),
                              CPLGetLastErrorMsg());
        }
    }

    void Flush() override {
        if (m_transaction.commit()) {
            return;
        }
        GdalErrorScope scope;
        if (m_owner->layer()->SyncToDisk() != OGRERR_NONE) {
            throw gdalFailure("Cannot write the changes to " + m_owner->describe(), scope);
        }
    }

    FeatureReader& reader() override { return m_reader; }

private:
    std::shared_ptr<OgrFeatureClass> m_owner;
    FeatureReader m_reader;
    RowSource m_rows;
    PassTransaction m_transaction;
};

// A column update: reads only the fields named (no geometry) and stores
// only the changed double attributes, through a ColumnStore. A pass is one
// transaction where the data set has them, as for OgrUpdateCursor.
class OgrColumnCursor : public host::UpdateCursor, public NativeCursor {
public:
    OgrColumnCursor(std::shared_ptr<OgrFeatureClass> owner, std::vector<int> readAttrs,
                    std::vector<int> writtenAttrs, std::shared_ptr<const ColumnMask> mask,
                    std::unique_ptr<ColumnStore> store)
        : m_owner(owner),
          m_reader(owner, std::string(), FeatureReader::Mode::kRead),
          m_rows(owner, true, std::move(mask)),
          m_written(std::move(writtenAttrs)),
          m_values(m_written.size()),
          m_store(std::move(store)),
          m_transaction(*owner) {
        m_reader.restrictTo(std::move(readAttrs));
    }

    ~OgrColumnCursor() override {
        if (m_store) {
            m_store->abandon();
        }
    }

    std::shared_ptr<host::Row> NextRow() override {
        if (!m_reader.started()) {
            m_transaction.ensureStarted();
        }
        return m_rows.wrap(m_reader.next());
    }

    void StoreRow(host::Row& row) override {
        OgrRow& ogrRow = RowOfPass(row, *m_owner);
        if (!m_store) {
            throw gdalFailure("StoreRow: the pass over " + m_owner->describe() + " has ended");
        }
        const OGRFeature& feature = *ogrRow.feature();
        for (std::size_t k = 0; k < m_written.size(); ++k) {
            const int attr = m_written[k];
            m_values[k] = feature.IsFieldSetAndNotNull(attr)
                              ? std::optional<double>(feature.GetFieldAsDouble(attr))
                              : std::nullopt;
        }
        m_store->store(feature.GetFID(), m_values);
    }

    void Flush() override {
        if (m_store) {
            auto store = std::move(m_store);
            store->flush();
        }
        m_transaction.commit();
    }

    FeatureReader& reader() override { return m_reader; }

private:
    std::shared_ptr<OgrFeatureClass> m_owner;
    FeatureReader m_reader;
    RowSource m_rows;
    std::vector<int> m_written;
    std::vector<std::optional<double>> m_values;
    std::unique_ptr<ColumnStore> m_store;
    PassTransaction m_transaction;
};

}  // namespace

std::shared_ptr<host::Cursor> OgrFeatureClass::Search(std::shared_ptr<host::QueryFilter> filter,
                                                      bool recycling) {
    return std::make_shared<OgrSearchCursor>(
        shared_from_this(), filter ? filter->whereClause() : std::string(), recycling);
}

std::shared_ptr<host::UpdateCursor> OgrFeatureClass::OpenUpdateCursor(
    std::shared_ptr<host::QueryFilter> filter, bool recycling) {
    const std::string what = "Cannot update the features of " + describe();
    ensureWritable(what);
    if (!m_layer->TestCapability(OLCRandomWrite)) {
        throw gdalFailure(what + ": the format does not allow features to be rewritten");
    }
    return std::make_shared<OgrUpdateCursor>(
        shared_from_this(), filter ? filter->whereClause() : std::string(), recycling);
}

std::shared_ptr<host::UpdateCursor> OgrFeatureClass::OpenColumnUpdateCursor(
    const host::ColumnUpdate& columns) {
    const std::string what = "Cannot update the features of " + describe();
    ensureWritable(what);
    if (!m_layer->TestCapability(OLCRandomWrite)) {
        throw gdalFailure(what + ": the format does not allow features to be rewritten");
    }
    const std::int32_t fieldCount = GetFields().GetFieldCount();
    auto mask = std::make_shared<ColumnMask>();
    mask->readable.assign(static_cast<std::size_t>(fieldCount), false);
    mask->writable.assign(static_cast<std::size_t>(fieldCount), false);
    mask->readable[0] = true;  // the object id comes with every feature

    std::vector<int> readAttrs;
    std::vector<int> writtenAttrs;
    bool storable = !columns.written.empty();
    const auto note = [&](std::int32_t index, bool written) {
        const Column c = column(index);
        const auto at = static_cast<std::size_t>(index);
        mask->readable[at] = true;
        if (written) {
            mask->writable[at] = true;
        }
        if (c.kind == Column::kGeometry || (written && c.kind != Column::kAttribute)) {
            storable = false;
            return;
        }
        if (c.kind != Column::kAttribute) {
            return;
        }
        if (std::find(readAttrs.begin(), readAttrs.end(), c.index) == readAttrs.end()) {
            readAttrs.push_back(c.index);
        }
        if (written) {
            const OGRFieldDefn* defn = m_layer->GetLayerDefn()->GetFieldDefn(c.index);
            if (defn->GetType() != OFTReal || defn->GetSubType() == OFSTFloat32) {
                storable = false;
            }
            if (std::find(writtenAttrs.begin(), writtenAttrs.end(), c.index) ==
                writtenAttrs.end()) {
                writtenAttrs.push_back(c.index);
            }
        }
    };
    for (std::int32_t index : columns.read) {
        note(index, false);
    }
    for (std::int32_t index : columns.written) {
        note(index, true);
    }

    std::unique_ptr<ColumnStore> store;
    if (storable) {
        if (m_source->isShapefile()) {
            store = OpenDbfColumnStore(*this, writtenAttrs);
        } else if (m_source->driverName() == "GPKG") {
            store = OpenSqliteColumnStore(*this, writtenAttrs);
        }
    }
    if (!store) {
        return OpenUpdateCursor(nullptr, true);
    }
    return std::make_shared<OgrColumnCursor>(shared_from_this(), std::move(readAttrs),
                                             std::move(writtenAttrs), std::move(mask),
                                             std::move(store));
}

}  // namespace vark::ogr
