// The QGIS adapter's route for a layer no shared route writes (a memory
// layer, any provider other than a file's or a server's): the new field and
// every feature's value go into the layer's own edit buffer, committed as
// one change at Commit, rolled back when the pass is dropped before it.

#include <qgsfeatureiterator.h>
#include <qgsfeaturerequest.h>
#include <qgsvectorlayer.h>
#include <qgsvectorlayereditbuffer.h>

#include <QPointer>

#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"

namespace vark::qgis {

namespace {

class EditBufferPass : public host::NewFieldPass {
public:
    EditBufferPass(QgsVectorLayer& layer, std::string name, int sourceAttribute, bool add)
        : m_layer(&layer),
          m_name(std::move(name)),
          m_sourceAttribute(sourceAttribute),
          m_add(add) {}

    ~EditBufferPass() override {
        if (m_editing && m_layer) {
            m_layer->rollBack();
            NotifyDataChanged(*m_layer, true);
        }
    }

    std::int64_t Prepare(const ValueOf& valueOf) override {
        QgsVectorLayer& l = layer();
        if (!l.startEditing()) {
            throw HostFailure("Cannot add the field " + m_name + " to " + LayerLabel(l) +
                              ": QGIS does not let it be edited");
        }
        m_editing = true;
        const QString name = ToQString(m_name);
        if (m_add && !l.addAttribute(QgsField(name, QVariant::Double))) {
            throw HostFailure("Cannot add the field " + m_name + " to " + LayerLabel(l));
        }
        const int target = l.fields().indexFromName(name);
        const QgsVectorDataProvider& provider = ProviderOf(l);
        const int source = l.fields().indexFromName(provider.fields().at(m_sourceAttribute).name());
        if (target < 0 || source < 0) {
            throw HostFailure("Cannot add the field " + m_name + " to " + LayerLabel(l) +
                              ": QGIS lost it in the edit buffer");
        }
        // Every feature of the data, whatever the layer's filter.
        QgsFeatureRequest request;
        request.setFlags(QgsFeatureRequest::NoGeometry);
        request.setSubsetOfAttributes(QgsAttributeList{m_sourceAttribute});
        QgsFeatureIterator it = provider.getFeatures(request);
        std::int64_t features = 0;
        std::string text;
        QgsFeature feature;
        while (it.nextFeature(feature)) {
            const QVariant value = feature.attribute(m_sourceAttribute);
            std::optional<double> degree;
            if (value.isNull()) {
                degree = valueOf(std::nullopt);
            } else {
                text = value.toString().toStdString();
                degree = valueOf(std::string_view(text));
            }
            ++features;
            if (degree) {
                l.changeAttributeValue(feature.id(), target, *degree);
            }
        }
        return features;
    }

    void Commit() override {
        QgsVectorLayer& l = layer();
        if (!m_editing) {
            throw HostFailure("Commit before Prepare (" + LayerLabel(l) + ")");
        }
        if (!l.commitChanges()) {
            const std::string why = ToStdString(l.commitErrors().join(QStringLiteral("; ")));
            l.rollBack();
            m_editing = false;
            NotifyDataChanged(l, true);
            throw HostFailure("Cannot save the field " + m_name + " in " + LayerLabel(l) + ": " +
                              why);
        }
        m_editing = false;
        NotifyDataChanged(l, true);
    }

private:
    QgsVectorLayer& layer() const {
        if (!m_layer) {
            throw HostFailure("The layer of the field " + m_name + " was removed");
        }
        return *m_layer;
    }

    QPointer<QgsVectorLayer> m_layer;
    std::string m_name;
    int m_sourceAttribute;
    bool m_add;
    bool m_editing = false;
};

}  // namespace

std::unique_ptr<host::NewFieldPass> QgisFeatureClass::openEditBufferPass(const host::Field& field,
                                                                         std::int32_t sourceIndex,
                                                                         host::NewFieldMode mode) {
    QgsVectorLayer& l = layer();
    const bool add = mode == host::NewFieldMode::Add;
    const int capabilities = ProviderOf(l).capabilities();
    if ((add && !(capabilities & QgsVectorDataProvider::AddAttributes)) ||
        !(capabilities & QgsVectorDataProvider::ChangeAttributeValues)) {
        throw HostFailure((add ? "Cannot add the field " : "Cannot recompute the field ") +
                          field.GetFieldName() + " to " + LayerLabel(l) +
                          ": its data source does not accept new fields; nothing was changed. "
                          "Save it as a GeoPackage or a shapefile first.");
    }
    const NewFieldCheck check = checkNewField(field, sourceIndex, mode);
    return std::make_unique<EditBufferPass>(l, field.GetFieldName(), check.sourceAttribute, add);
}

}  // namespace vark::qgis
