#include <algorithm>

#include "host/common/ColumnMask.h"
#include "host/common/TextCompare.h"
#include "host/common/WorkspaceRegistry.h"
#include "host/ogr/OgrData.h"
#include "routes/gpkg/GpkgRecipes.h"
#include "support/Cp1252.h"

namespace vark::ogr {

namespace {

std::size_t utf8Length(const std::string& s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
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
    : m_source(std::move(source)),
      m_layerName(layer->GetName()),
      m_layer(layer),
      m_generation(m_source->generation()) {
    if (m_source->isPostgres()) {
        // The criterion records of the server's layers are found through
        // their workspace's path (host/common/WorkspaceRegistry.h).
        m_workspace = std::make_shared<OgrDatasetWorkspace>(m_source);
        host::common::RegisterWorkspace(m_workspace);
    }
}

OGRLayer* OgrFeatureClass::layer() const {
    if (m_generation != m_source->generation()) {
        GdalErrorScope scope;
        OGRLayer* found = m_source->isShapefile()
                              ? m_source->dataset().GetLayer(0)
                              : m_source->dataset().GetLayerByName(m_layerName.c_str());
        if (!found) {
            throw gdalFailure("The layer " + m_layerName + " is no longer in " + m_source->path(),
                              scope);
        }
        m_layer = found;
        m_generation = m_source->generation();
    }
    return m_layer;
}

std::int32_t OgrFeatureClass::GetShapeType() const {
    if (layer()->GetLayerDefn()->GetGeomFieldCount() == 0) {
        return host::kShapeNull;
    }
    switch (wkbFlatten(layer()->GetGeomType())) {
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
    if (m_workspace) {
        return m_workspace;
    }
    if (m_source->workspaceType() == host::kWorkspaceFileSystem) {
        return std::make_shared<OgrFolderWorkspace>(m_source->workspacePath(), m_source->cache());
    }
    return std::make_shared<OgrDatasetWorkspace>(m_source);
}

host::Fields OgrFeatureClass::GetFields() {
    OGRFeatureDefn* defn = layer()->GetLayerDefn();
    std::vector<host::Field> fields;
    fields.reserve(static_cast<std::size_t>(1 + defn->GetGeomFieldCount() + defn->GetFieldCount()));

    host::Field oid;
    const char* fidColumn = layer()->GetFIDColumn();
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
        field.SetFieldName(shownName(fieldDefn->GetNameRef()));
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
    OGRFeatureDefn* defn = layer()->GetLayerDefn();
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
    return HostFieldType(*layer()->GetLayerDefn()->GetFieldDefn(attr));
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
    OGRFeatureDefn* defn = layer()->GetLayerDefn();
    switch (c.kind) {
        case Column::kOid: {
            const char* fid = layer()->GetFIDColumn();
            return (fid && *fid) ? fid : "FID";
        }
        case Column::kGeometry:
            return geometryFieldName(*defn->GetGeomFieldDefn(c.index));
        default:
            return shownName(defn->GetFieldDefn(c.index)->GetNameRef());
    }
}

std::string OgrFeatureClass::shownName(const char* stored) const {
    const std::string_view name(stored != nullptr ? stored : "");
    if (!m_source->isShapefile() || IsValidUtf8(name)) {
        return std::string(name);
    }
    return host::DecodeLayerText(name, GetTextEncoding());
}

std::string OgrFeatureClass::storedName(const std::string& utf8) const {
    const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !m_source->isShapefile() || GetTextEncoding() != host::TextEncoding::kUndeclared) {
        return utf8;
    }
    OGRFeatureDefn* defn = layer()->GetLayerDefn();
    for (int a = 0; a < defn->GetFieldCount(); ++a) {
        const std::string_view name = defn->GetFieldDefn(a)->GetNameRef();
        const bool nonAscii = std::any_of(
            name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        if (nonAscii && IsValidUtf8(name)) {
            return utf8;
        }
    }
    std::optional<std::string> bytes = EncodeCp1252Exactly(utf8);
    return bytes && !IsValidUtf8(*bytes) ? *bytes : utf8;
}

std::string OgrFeatureClass::describe() const {
    return "layer " + m_layerName + " of " + m_source->path();
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
    const std::unique_ptr<OGRFieldDefn> defn = newFieldDefinition(field);
    const std::string& name = field.GetFieldName();
    const std::string what = "Cannot add the field " + name + " to " + describe();

    // Adding a field rewrites the table of some formats: any pass in
    // progress over this layer is over.
    m_source->claim(layer());
    m_source->schemaChanged(layer());
    if (m_source->isPostgres()) {
        addPostgresField(*defn);
        return;
    }

    GdalErrorScope scope;
    if (layer()->CreateField(defn.get(), FALSE) != OGRERR_NONE) {
        throw gdalFailure(what, scope);
    }
    OGRFeatureDefn* layerDefn = layer()->GetLayerDefn();
    const int created = layerDefn->GetFieldCount() - 1;
    const char* createdName = created >= 0 ? layerDefn->GetFieldDefn(created)->GetNameRef() : "";
    if (defn->GetNameRef() != std::string_view(createdName)) {
        const std::string changed = shownName(createdName);
        layer()->DeleteField(created);
        m_source->schemaChanged(layer());
        throw gdalFailure(what + ": the format would have named it " + changed);
    }
}

std::unique_ptr<OGRFieldDefn> OgrFeatureClass::newFieldDefinition(const host::Field& field) {
    const std::string& name = field.GetFieldName();
    const std::string what = "Cannot add the field " + name + " to " + describe();
    if (name.empty()) {
        throw gdalFailure("Cannot add a field without a name to " + describe());
    }
    ensureWritable(what);
    if (!layer()->TestCapability(OLCCreateField)) {
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
        if (host::common::EqualsIgnoringAsciiCase(other, name)) {
            throw gdalFailure(what + ": the layer already has a field named " + other);
        }
    }
    // The shapefile driver would silently truncate a longer name (and make
    // it unique with a suffix): the caller would then not find its field.
    // A table of undeclared encoding holds the name's bytes as storedName
    // gives them: those count.
    const std::size_t length = GetTextEncoding() == host::TextEncoding::kUndeclared
                                   ? storedName(name).size()
                                   : utf8Length(name);
    if (m_source->isShapefile() && length > 10) {
        throw gdalFailure(what + ": a shapefile field name has at most 10 characters");
    }

    auto defn = std::make_unique<OGRFieldDefn>(storedName(name).c_str(), type);
    defn->SetSubType(subType);
    if (field.GetFieldLength() > 0) {
        defn->SetWidth(field.GetFieldLength());
    }
    if (field.GetFieldPrecision() > 0) {
        defn->SetPrecision(field.GetFieldPrecision());
    }
    return defn;
}

std::int64_t OgrFeatureClass::GetFeatureCount() {
    if (m_source->isPostgres()) {
        return -1;  // the driver would have the server read the whole table
    }
    GdalErrorScope scope;
    if (layer()->GetAttrQueryString() != nullptr) {
        return -1;  // a cursor's filter is in force: the count would be of its features
    }
    const GIntBig count = layer()->GetFeatureCount(FALSE);
    return count < 0 ? -1 : static_cast<std::int64_t>(count);
}

std::optional<std::string> OgrFeatureClass::ReadRecipe(const std::string& fieldName) {
    if (m_source->isPostgres()) {
        return readPostgresRecipe(fieldName);
    }
    if (m_source->driverName() != "GPKG") {
        return std::nullopt;
    }
    layer();  // the data set as it is now
    auto* db = static_cast<sqlite3*>(m_source->dataset().GetInternalHandle("SQLITE_HANDLE"));
    if (db == nullptr) {
        return std::nullopt;
    }
    return routes::ReadGpkgRecipe(*db, m_layerName, fieldName,
                                  "Cannot read the recipe of " + fieldName + " in " + describe());
}

host::TextEncoding OgrFeatureClass::GetTextEncoding() const {
    // A shapefile declares its encoding by a .cpg or its code page byte
    // (0x57 opened as Windows-1252: ShapeEncoding.h); without either GDAL
    // hands the bytes as stored, as the new-field pass reads them
    // (SOURCE_ENCODING empty).
    OGRLayer* ogrLayer = layer();
    if (m_source->isShapefile()) {
        const char* encoding = ogrLayer->GetMetadataItem("SOURCE_ENCODING", "SHAPEFILE");
        return encoding != nullptr && *encoding != '\0' ? host::TextEncoding::kUtf8
                                                        : host::TextEncoding::kUndeclared;
    }
    return ogrLayer->TestCapability(OLCStringsAsUTF8) ? host::TextEncoding::kUtf8
                                                      : host::TextEncoding::kUndeclared;
}

std::shared_ptr<host::Cursor> OgrFeatureClass::Search(std::shared_ptr<host::QueryFilter> filter,
                                                      bool recycling) {
    return OpenSearchCursor(shared_from_this(), filter ? filter->whereClause() : std::string(),
                            recycling);
}

std::shared_ptr<host::UpdateCursor> OgrFeatureClass::OpenColumnUpdateCursor(
    const host::ColumnUpdate& columns) {
    const std::string what = "Cannot update the features of " + describe();
    ensureWritable(what);
    if (!layer()->TestCapability(OLCRandomWrite)) {
        throw gdalFailure(what + ": the format does not allow features to be rewritten");
    }
    if (columns.wholeFeatures) {
        return OpenWholeFeatureCursor(shared_from_this(), columns.where, columns.recycling);
    }
    auto mask = std::make_shared<const host::common::ColumnMask>(GetFields().GetFieldCount(),
                                                                 columns, describe(), kGdalSource);

    std::vector<int> readAttrs;
    std::vector<int> writtenAttrs;
    bool storable = !columns.written.empty();
    const auto note = [&](std::int32_t index, bool written) {
        const Column c = column(index);
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
            const OGRFieldDefn* defn = layer()->GetLayerDefn()->GetFieldDefn(c.index);
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
        return OpenWholeFeatureCursor(shared_from_this(), std::string(), true);
    }
    return OpenColumnCursor(shared_from_this(), std::move(readAttrs), std::move(writtenAttrs),
                            std::move(mask), std::move(store));
}

}  // namespace vark::ogr
