#pragma once

// A map holding a list of top-level layers, with its view-event source:
// the map of every adapter whose layers are the adapter's own objects.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/common/EventSinks.h"
#include "host/host.h"

namespace vark::host::common {

/// Failures of the objects every adapter shares come from this source.
inline constexpr const char* kCommonSource = "host";

class CommonMap : public Map {
public:
    explicit CommonMap(std::string name = "Layers") : m_name(std::move(name)) {}

    std::int32_t GetLayerCount() const override {
        return static_cast<std::int32_t>(m_layers.size());
    }
    /// Throws Failure (err::kSubscriptOutOfRange) for an index out of range.
    std::shared_ptr<Layer> GetMapLayer(std::int32_t index) const override;
    /// Knows kFeatureLayerUid only (any other type id selects nothing);
    /// enters group layers only when `recursive`.
    std::shared_ptr<LayerEnum> FindLayers(const Uid& uid, bool recursive) const override;
    /// Appends the layer at the bottom and tells the view-event sinks
    /// (ItemAdded). Throws Failure for no layer.
    void AddLayer(std::shared_ptr<Layer> layer) override;
    void SetViewNotification(bool) override {}
    void AdviseViewEvents(MapActiveViewEventsSink* sink) override { m_viewEvents.add(sink); }
    void UnadviseViewEvents(MapActiveViewEventsSink* sink) override { m_viewEvents.remove(sink); }

    const std::string& name() const { return m_name; }
    const std::vector<std::shared_ptr<Layer>>& layers() const { return m_layers; }

protected:
    EventSinks<MapActiveViewEventsSink>& viewEvents() { return m_viewEvents; }
    const EventSinks<MapActiveViewEventsSink>& viewEvents() const { return m_viewEvents; }
    std::vector<std::shared_ptr<Layer>>& layerList() { return m_layers; }

private:
    std::string m_name;
    std::vector<std::shared_ptr<Layer>> m_layers;
    EventSinks<MapActiveViewEventsSink> m_viewEvents;
};

/// The feature layers among `layers`, in order; the layers of groups only
/// when `recursive`.
std::vector<std::shared_ptr<Layer>> FeatureLayersOf(
    const std::vector<std::shared_ptr<Layer>>& layers, bool recursive);

}  // namespace vark::host::common
