#pragma once

// The text-criterion command: what the map host creates when it builds its
// command bars, and the only way from the host into the component.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "host/ComponentInterfaces.h"
#include "host/host.h"

namespace vark::host {

/// Default interface of the command class.
class _clsRequeteText {
public:
    virtual ~_clsRequeteText() = default;
    /// Shows the text-criterion dialog modally (ShowCriterionDialog);
    /// failures pass to the caller.
    virtual void Mainprog() = 0;
    /// The same as Mainprog.
    virtual void mainprog2() = 0;
};

/// The command. Keeps the hook given to OnCreate, publishes an application
/// hook as g_pApplication, and stays subscribed to the events of the current
/// document and of its focus map (or of the map hook's map).
///
/// Every ICommand member, event handler, SinkEventHandlers and
/// Class_Terminate catches whatever is thrown inside it and reports it with
/// ReportError under its own label; nothing ever escapes to the host.
/// Not thread-safe: every call comes on the host's user-interface thread.
class clsRequeteText final : public ComponentObject,
                             public ICommand,
                             public _clsRequeteText,
                             public DocumentEventsSink,
                             public MapActiveViewEventsSink {
public:
    clsRequeteText();
    /// Runs Class_Terminate.
    ~clsRequeteText() override;

    void* QueryInterface(std::string_view interfaceId) override;

    // ICommand
    bool Enabled() override;
    bool Checked() override;
    std::string Name() override;
    /// "Critère Texte V9.2  à 10.3VML" + the library's revision number.
    std::string Caption() override;
    /// "Critère Texte V9.2 à 10.3VML" + the library's revision number.
    std::string Tooltip() override;
    std::string Message() override;
    std::string HelpFile() override;
    std::int32_t HelpContextID() override;
    /// The embedded 72 x 72, 16-colour BMP (2,710 bytes).
    std::span<const std::uint8_t> Bitmap() override;
    std::string Category() override;
    /// Keeps an application hook (also as g_pApplication) or a map hook,
    /// anything else not at all; then brings both subscriptions up to date.
    void OnCreate(std::shared_ptr<Hook> hook) override;
    /// Calls Mainprog.
    void OnClick() override;

    // _clsRequeteText
    void Mainprog() override;
    void mainprog2() override;

    // DocumentEventsSink: every handler answers false.
    bool ActiveViewChanged() override;
    bool BeforeCloseDocument() override;
    bool CloseDocument() override;
    bool MapsChanged() override;
    /// Moves the document subscription to the application's document.
    bool NewDocument() override;
    /// Moves the document subscription to the application's document.
    bool OpenDocument() override;

    // MapActiveViewEventsSink
    void AfterDraw() override;
    void AfterItemDraw() override;
    void ContentsChanged() override;
    void ContentsCleared() override;
    /// Moves the view subscription to the current focus map.
    void FocusMapChanged() override;
    void ItemAdded() override;
    void ItemDeleted() override;
    void ItemReordered() override;
    void SelectionChanged() override;
    void SpatialReferenceChanged() override;
    void ViewRefreshed() override;

    /// Drops the hook references and both subscriptions, in that order.
    /// g_pApplication is left as it is. Safe to call more than once; the
    /// destructor calls it.
    void Class_Terminate() noexcept;

    // Read access for the host's tests and diagnostics.
    const std::shared_ptr<Application>& application() const { return m_pApplication; }
    const std::shared_ptr<MapHook>& mapHook() const { return m_pMapHook; }
    /// The document whose events this object receives, or empty.
    const std::shared_ptr<MapDocument>& documentEvents() const { return DocumentEvents; }
    /// The map whose view events this object receives, or empty.
    const std::shared_ptr<Map>& mapActiveViewEvents() const { return MapActiveViewEvents; }

private:
    /// Brings one subscription slot up to date: 0 the document slot, 1 the
    /// view slot, any other value nothing. Reports its own failures.
    void SinkEventHandlers(std::int16_t sinkIndex) noexcept;
    void sinkDocument();
    void sinkView();
    /// Assigning subscribes to the new source, then drops the old one.
    void setDocumentEvents(std::shared_ptr<MapDocument> document);
    void setMapActiveViewEvents(std::shared_ptr<Map> map);

    std::shared_ptr<Application> m_pApplication;
    std::shared_ptr<MapHook> m_pMapHook;
    std::shared_ptr<MapDocument> DocumentEvents;
    std::shared_ptr<Map> MapActiveViewEvents;
};

/// The command's location text for ReportError: `label` (which ends in a
/// blank), the module text, a blank, and FormatErrorLine(line).
std::string CommandErrorLocation(std::string_view label, std::int32_t line = 0);

}  // namespace vark::host
