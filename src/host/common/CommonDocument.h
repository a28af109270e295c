#pragma once

// A map document showing one focus map, with its document-event source.

#include <memory>

#include "host/common/EventSinks.h"
#include "host/host.h"

namespace vark::host::common {

class CommonDocument : public MapDocument {
public:
    explicit CommonDocument(std::shared_ptr<Map> focusMap) : m_focusMap(std::move(focusMap)) {}

    std::shared_ptr<Map> GetFocusMap() override { return m_focusMap; }
    void AdviseDocumentEvents(DocumentEventsSink* sink) override { m_documentEvents.add(sink); }
    void UnadviseDocumentEvents(DocumentEventsSink* sink) override {
        m_documentEvents.remove(sink);
    }

protected:
    /// Makes `map` the focus map (null: none). Fires nothing.
    void setFocusMap(std::shared_ptr<Map> map) { m_focusMap = std::move(map); }
    EventSinks<DocumentEventsSink>& documentEvents() { return m_documentEvents; }
    const EventSinks<DocumentEventsSink>& documentEvents() const { return m_documentEvents; }

private:
    std::shared_ptr<Map> m_focusMap;
    EventSinks<DocumentEventsSink> m_documentEvents;
};

}  // namespace vark::host::common
