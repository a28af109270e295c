#include "host/common/CommonMap.h"

#include "support/Failure.h"

namespace vark::host::common {

namespace {
void collectFeatureLayers(const std::vector<std::shared_ptr<Layer>>& layers, bool recursive,
                          std::vector<std::shared_ptr<Layer>>& out) {
    for (const auto& layer : layers) {
        if (std::dynamic_pointer_cast<FeatureLayer>(layer)) {
            out.push_back(layer);
        } else if (auto group = std::dynamic_pointer_cast<GroupLayer>(layer); group && recursive) {
            std::vector<std::shared_ptr<Layer>> inner;
            for (std::int32_t i = 0; i < group->GetLayerCount(); ++i) {
                inner.push_back(group->GetLayer(i));
            }
            collectFeatureLayers(inner, recursive, out);
        }
    }
}
}  // namespace

std::vector<std::shared_ptr<Layer>> FeatureLayersOf(
    const std::vector<std::shared_ptr<Layer>>& layers, bool recursive) {
    std::vector<std::shared_ptr<Layer>> found;
    collectFeatureLayers(layers, recursive, found);
    return found;
}

std::shared_ptr<Layer> CommonMap::GetMapLayer(std::int32_t index) const {
    if (index < 0 || index >= GetLayerCount()) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Layer index " + std::to_string(index) + " out of range in map " + m_name,
                      kCommonSource);
    }
    return m_layers[static_cast<std::size_t>(index)];
}

std::shared_ptr<LayerEnum> CommonMap::FindLayers(const Uid& uid, bool recursive) const {
    if (uid.value() != kFeatureLayerUid) {
        return std::make_shared<LayerList>(std::vector<std::shared_ptr<Layer>>{});
    }
    return std::make_shared<LayerList>(FeatureLayersOf(m_layers, recursive));
}

void CommonMap::AddLayer(std::shared_ptr<Layer> layer) {
    if (!layer) {
        throw Failure(err::kObjectVariableNotSet, "AddLayer: no layer", kCommonSource);
    }
    m_layers.push_back(std::move(layer));
    m_viewEvents.fire([](MapActiveViewEventsSink& sink) { sink.ItemAdded(); });
}

}  // namespace vark::host::common
