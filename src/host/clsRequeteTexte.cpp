#include <string_view>
#include <utility>

#include "host/CommandBitmap.h"
#include "host/ComponentIds.h"
#include "host/DialogEntry.h"
#include "host/HostState.h"
#include "host/clsRequeteText.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"
#include "support/LibraryInfo.h"

namespace vark::host {

namespace {

// Part of every location text this object reports: the reports of the whole
// family of tools carry this module text, and support reads them by it, so it
// never changes with the platform.
constexpr std::string_view kModuleText =
    "C:\\Program Files\\Microsoft Visual Studio\\clsRequeteTexte";

constexpr std::string_view kCaptionText = "Critère Texte V9.2  à 10.3VML";
constexpr std::string_view kTooltipText = "Critère Texte V9.2 à 10.3VML";
constexpr std::string_view kNameText = "KELMO_Critère texte 9.2 a 10.3VML";
constexpr std::string_view kCategoryText = "KELMO";

// Reports whatever exception is in flight. Must be called from a catch block.
void reportCurrent(std::string_view label) noexcept {
    try {
        const Failure failure = CurrentFailure();
        ReportError(CommandErrorLocation(label), failure.number(), failure.description());
    } catch (...) {
        // Building the report itself failed (out of memory): the host must
        // still get control back, so there is nothing more to do.
    }
}

template <class R, class Body>
R guarded(std::string_view label, R reached, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        reportCurrent(label);
        return reached;
    }
}

template <class Body>
void guarded(std::string_view label, Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        reportCurrent(label);
    }
}

// A host object the next step needs; an empty one fails as an unset
// reference would, instead of being dereferenced.
template <class T>
T& required(const std::shared_ptr<T>& object, const char* what) {
    if (!object) {
        throw Failure(err::kObjectVariableNotSet,
                      std::string("Object variable or With block variable not set (") + what + ")",
                      std::string(ids::kTypeLibraryName));
    }
    return *object;
}

std::string withRevision(std::string_view text) {
    std::string result(text);
    result += std::to_string(GetLibraryVersion().revision);
    return result;
}

}  // namespace

std::string CommandErrorLocation(std::string_view label, std::int32_t line) {
    std::string location(label);
    location += kModuleText;
    location += ' ';
    location += FormatErrorLine(line);
    return location;
}

clsRequeteText::clsRequeteText() = default;

clsRequeteText::~clsRequeteText() {
    Class_Terminate();
}

void* clsRequeteText::QueryInterface(std::string_view interfaceId) {
    if (ids::IdEquals(interfaceId, ids::kIid_ICommand)) {
        return static_cast<ICommand*>(this);
    }
    if (ids::IdEquals(interfaceId, ids::kIid__clsRequeteText)) {
        return static_cast<_clsRequeteText*>(this);
    }
    if (ids::IdEquals(interfaceId, ids::kIid_DocumentEvents)) {
        return static_cast<DocumentEventsSink*>(this);
    }
    if (ids::IdEquals(interfaceId, ids::kIid_MapActiveViewEvents)) {
        return static_cast<MapActiveViewEventsSink*>(this);
    }
    return nullptr;
}

// ---- ICommand

bool clsRequeteText::Enabled() {
    return guarded("ICommand_Enabled ", false, [] { return true; });
}

bool clsRequeteText::Checked() {
    return guarded("ICommand_Checked ", false, [] { return false; });
}

std::string clsRequeteText::Name() {
    return guarded("ICommand_Name ", std::string(), [] { return std::string(kNameText); });
}

std::string clsRequeteText::Caption() {
    return guarded("ICommand_Caption ", std::string(), [] { return withRevision(kCaptionText); });
}

std::string clsRequeteText::Tooltip() {
    return guarded("ICommand_Tooltip ", std::string(), [] { return withRevision(kTooltipText); });
}

std::string clsRequeteText::Message() {
    return guarded("ICommand_Message ", std::string(), [] { return withRevision(kTooltipText); });
}

std::string clsRequeteText::HelpFile() {
    return guarded("ICommand_HelpFile ", std::string(), [] { return std::string(); });
}

std::int32_t clsRequeteText::HelpContextID() {
    return guarded("ICommand_HelpContextID ", std::int32_t{0}, [] { return std::int32_t{0}; });
}

std::span<const std::uint8_t> clsRequeteText::Bitmap() {
    return guarded("ICommand_Bitmap ", std::span<const std::uint8_t>(),
                   [] { return CommandBitmapBytes(); });
}

std::string clsRequeteText::Category() {
    return guarded("ICommand_Category ", std::string(), [] { return std::string(kCategoryText); });
}

void clsRequeteText::OnCreate(std::shared_ptr<Hook> hook) {
    guarded("ICommand_OnCreate ", [&] {
        if (hook && hook->IsApplication()) {
            if (auto application = std::dynamic_pointer_cast<Application>(hook)) {
                m_pApplication = application;
                g_pApplication() = std::move(application);
            }
        } else if (hook && hook->IsMapHook()) {
            m_pMapHook = std::dynamic_pointer_cast<MapHook>(hook);
        }
        SinkEventHandlers(0);
        SinkEventHandlers(1);
    });
}

void clsRequeteText::OnClick() {
    guarded("ICommand_OnClick ", [&] { Mainprog(); });
}

// ---- Default interface

void clsRequeteText::Mainprog() {
    ShowCriterionDialog();
}

void clsRequeteText::mainprog2() {
    ShowCriterionDialog();
}

// ---- Subscriptions

void clsRequeteText::SinkEventHandlers(std::int16_t sinkIndex) noexcept {
    guarded("SinkEventHandlers ", [&] {
        if (sinkIndex == 0) {
            sinkDocument();
        } else if (sinkIndex == 1) {
            sinkView();
        }
    });
}

// Each step asks the host anew: the host may hand out a different object
// between two calls, and only what it answers now counts.
void clsRequeteText::sinkDocument() {
    if (m_pMapHook || !m_pApplication || !m_pApplication->IsMapApplication()) {
        return;
    }
    if (m_pApplication->GetDocument() == DocumentEvents) {
        return;
    }
    setDocumentEvents(m_pApplication->GetDocument());
}

void clsRequeteText::sinkView() {
    if (m_pMapHook) {
        if (m_pMapHook->GetHookMap() == MapActiveViewEvents) {
            return;
        }
        setMapActiveViewEvents(m_pMapHook->GetHookMap());
        required(m_pMapHook->GetHookMap(), "hook map").SetViewNotification(true);
        return;
    }
    if (!m_pApplication || !m_pApplication->IsMapApplication()) {
        return;
    }
    if (required(m_pApplication->GetDocument(), "document").GetFocusMap() == MapActiveViewEvents) {
        return;
    }
    setMapActiveViewEvents(required(m_pApplication->GetDocument(), "document").GetFocusMap());
    required(required(m_pApplication->GetDocument(), "document").GetFocusMap(), "focus map")
        .SetViewNotification(true);
}

// Subscribe first: when the new source refuses, the old subscription stays.
void clsRequeteText::setDocumentEvents(std::shared_ptr<MapDocument> document) {
    if (document == DocumentEvents) {
        return;
    }
    if (document) {
        document->AdviseDocumentEvents(this);
    }
    std::shared_ptr<MapDocument> previous = std::exchange(DocumentEvents, std::move(document));
    if (previous) {
        previous->UnadviseDocumentEvents(this);
    }
}

void clsRequeteText::setMapActiveViewEvents(std::shared_ptr<Map> map) {
    if (map == MapActiveViewEvents) {
        return;
    }
    if (map) {
        map->AdviseViewEvents(this);
    }
    std::shared_ptr<Map> previous = std::exchange(MapActiveViewEvents, std::move(map));
    if (previous) {
        previous->UnadviseViewEvents(this);
    }
}

// A slot is emptied even when dropping the other one failed: a source left
// holding this object after it is gone would call into freed memory.
void clsRequeteText::Class_Terminate() noexcept {
    m_pApplication.reset();
    m_pMapHook.reset();
    guarded("Class_Terminate ", [&] { setDocumentEvents(nullptr); });
    guarded("Class_Terminate ", [&] { setMapActiveViewEvents(nullptr); });
}

// ---- Document events

bool clsRequeteText::ActiveViewChanged() {
    return guarded("DocumentEvents_ActiveViewChanged ", false, [] { return false; });
}

bool clsRequeteText::BeforeCloseDocument() {
    return guarded("DocumentEvents_BeforeCloseDocument ", false, [] { return false; });
}

bool clsRequeteText::CloseDocument() {
    return guarded("DocumentEvents_CloseDocument ", false, [] { return false; });
}

bool clsRequeteText::MapsChanged() {
    return guarded("DocumentEvents_MapsChanged ", false, [] { return false; });
}

bool clsRequeteText::NewDocument() {
    return guarded("DocumentEvents_NewDocument ", false, [&] {
        SinkEventHandlers(0);
        return false;
    });
}

bool clsRequeteText::OpenDocument() {
    return guarded("DocumentEvents_OpenDocument ", false, [&] {
        SinkEventHandlers(0);
        return false;
    });
}

// ---- View events

void clsRequeteText::AfterDraw() {
    guarded("MapActiveViewEvents_AfterDraw ", [] {});
}

void clsRequeteText::AfterItemDraw() {
    guarded("MapActiveViewEvents_AfterItemDraw ", [] {});
}

void clsRequeteText::ContentsChanged() {
    guarded("MapActiveViewEvents_ContentsChanged ", [] {});
}

void clsRequeteText::ContentsCleared() {
    guarded("MapActiveViewEvents_ContentsCleared ", [] {});
}

void clsRequeteText::FocusMapChanged() {
    guarded("MapActiveViewEvents_FocusMapChanged ", [&] { SinkEventHandlers(1); });
}

void clsRequeteText::ItemAdded() {
    guarded("MapActiveViewEvents_ItemAdded ", [] {});
}

void clsRequeteText::ItemDeleted() {
    guarded("MapActiveViewEvents_ItemDeleted ", [] {});
}

void clsRequeteText::ItemReordered() {
    guarded("MapActiveViewEvents_ItemReordered ", [] {});
}

void clsRequeteText::SelectionChanged() {
    guarded("MapActiveViewEvents_SelectionChanged ", [] {});
}

void clsRequeteText::SpatialReferenceChanged() {
    guarded("MapActiveViewEvents_SpatialReferenceChanged ", [] {});
}

void clsRequeteText::ViewRefreshed() {
    guarded("MapActiveViewEvents_ViewRefreshed ", [] {});
}

}  // namespace vark::host
