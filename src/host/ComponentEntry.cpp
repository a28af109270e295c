#include "host/ComponentEntry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <array>
#include <memory>

#include "host/ComponentIds.h"
#include "host/ComponentInterfaces.h"
#include "host/clsRequeteText.h"
#include "host/menu_requeteur.h"
#include "support/Failure.h"
#include "support/LibraryInfo.h"

namespace vark::host {

namespace {

struct ClassEntry {
    std::string_view className;
    std::string_view classId;
    std::string_view progId;
    std::string_view defaultInterface;
    std::unique_ptr<ComponentObject> (*create)();
};

const std::array<ClassEntry, 2> kClasses{{
    {ids::kClassName_clsRequeteText, ids::kClsid_clsRequeteText, ids::kProgId_clsRequeteText,
     ids::kIid__clsRequeteText,
     []() -> std::unique_ptr<ComponentObject> { return std::make_unique<clsRequeteText>(); }},
    {ids::kClassName_menu_requeteur, ids::kClsid_menu_requeteur, ids::kProgId_menu_requeteur,
     ids::kIid__menu_requeteur,
     []() -> std::unique_ptr<ComponentObject> { return std::make_unique<menu_requeteur>(); }},
}};

const ClassEntry* findClass(std::string_view classOrProgId) {
    for (const ClassEntry& entry : kClasses) {
        if (ids::IdEquals(classOrProgId, entry.classId) ||
            ids::IdEquals(classOrProgId, entry.progId)) {
            return &entry;
        }
    }
    return nullptr;
}

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

std::string s(const QVariant& value) {
    return value.toString().toStdString();
}

// Group names of the registry file. An id names its group without its
// braces, which an INI key could only hold escaped; values keep them.
std::string_view withoutBraces(std::string_view id) {
    if (id.size() >= 2 && id.front() == '{' && id.back() == '}') {
        return id.substr(1, id.size() - 2);
    }
    return id;
}
QString classGroup(std::string_view classId) {
    return "CLSID/" + q(withoutBraces(classId));
}
QString progIdGroup(std::string_view progId) {
    return "ProgID/" + q(progId);
}
QString typeLibGroup() {
    return "TypeLib/" + q(withoutBraces(ids::kTypeLibraryId));
}
QString interfaceGroup(std::string_view interfaceId) {
    return "Interface/" + q(withoutBraces(interfaceId));
}

std::unique_ptr<QSettings> openRegistry(bool forWriting) {
    const QString path = QString::fromStdString(ComponentRegistryFile());
    if (forWriting && !QDir().mkpath(QFileInfo(path).absolutePath())) {
        throw Failure(err::kPathNotFound,
                      "Cannot create the folder of the component registry " + path.toStdString(),
                      std::string(ids::kTypeLibraryName));
    }
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    settings->setIniCodec("UTF-8");
    return settings;
}

void commit(QSettings& settings) {
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw Failure(err::kPermissionDenied,
                      "Cannot write the component registry " + settings.fileName().toStdString(),
                      std::string(ids::kTypeLibraryName));
    }
}

std::string libraryPath() {
    return JoinPath(LibraryFolder(), LibraryFileName());
}

int resultOf(auto&& body) noexcept {
    try {
        body();
        return VARK_OK;
    } catch (const Failure&) {
        return VARK_E_REGISTRY;
    } catch (...) {
        return VARK_E_UNEXPECTED;
    }
}

}  // namespace

std::string ComponentRegistryFile() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (folder + "/VARK/components.ini").toStdString();
}

std::optional<RegisteredClass> FindRegisteredClass(std::string_view classOrProgId) {
    auto settings = openRegistry(false);
    if (settings->status() != QSettings::NoError) {
        throw Failure(err::kDeviceIoError,
                      "Cannot read the component registry " + settings->fileName().toStdString(),
                      std::string(ids::kTypeLibraryName));
    }
    settings->beginGroup("CLSID");
    const QStringList classIds = settings->childGroups();
    for (const QString& classId : classIds) {
        settings->beginGroup(classId);
        RegisteredClass found;
        found.classId = "{" + classId.toStdString() + "}";
        found.className = s(settings->value("Class"));
        found.progId = s(settings->value("ProgID"));
        found.library = s(settings->value("Library"));
        found.threadingModel = s(settings->value("ThreadingModel"));
        found.defaultInterface = s(settings->value("DefaultInterface"));
        found.typeLibraryId = s(settings->value("TypeLib"));
        found.typeLibraryVersion = s(settings->value("Version"));
        settings->endGroup();
        if (ids::IdEquals(classOrProgId, found.classId) ||
            (!found.progId.empty() && ids::IdEquals(classOrProgId, found.progId))) {
            return found;
        }
    }
    return std::nullopt;
}

void RegisterServer() {
    const QString library = QString::fromStdString(libraryPath());
    auto settings = openRegistry(true);
    for (const ClassEntry& entry : kClasses) {
        settings->beginGroup(classGroup(entry.classId));
        settings->setValue("Class", q(entry.className));
        settings->setValue("ProgID", q(entry.progId));
        settings->setValue("Library", library);
        settings->setValue("ThreadingModel", "Apartment");
        settings->setValue("DefaultInterface", q(entry.defaultInterface));
        settings->setValue("TypeLib", q(ids::kTypeLibraryId));
        settings->setValue("Version", q(ids::kTypeLibraryVersion));
        settings->endGroup();

        settings->setValue(progIdGroup(entry.progId) + "/CLSID", q(entry.classId));

        settings->beginGroup(interfaceGroup(entry.defaultInterface));
        settings->setValue("Name", "_" + q(entry.className));
        settings->setValue("TypeLib", q(ids::kTypeLibraryId));
        settings->setValue("Version", q(ids::kTypeLibraryVersion));
        settings->endGroup();
    }
    settings->beginGroup(typeLibGroup());
    settings->setValue("Name", q(ids::kTypeLibraryName));
    settings->setValue("Version", q(ids::kTypeLibraryVersion));
    settings->setValue("Library", library);
    settings->endGroup();
    commit(*settings);
}

void UnregisterServer() {
    auto settings = openRegistry(true);
    for (const ClassEntry& entry : kClasses) {
        settings->remove(classGroup(entry.classId));
        settings->remove(progIdGroup(entry.progId));
        settings->remove(interfaceGroup(entry.defaultInterface));
    }
    settings->remove(typeLibGroup());
    commit(*settings);
}

}  // namespace vark::host

using vark::host::ComponentObject;

extern "C" {

int VARK_CreateObject(const char* classOrProgId, VarkComponentObject** object) {
    if (object == nullptr) {
        return VARK_E_INVALID_ARGUMENT;
    }
    *object = nullptr;
    if (classOrProgId == nullptr) {
        return VARK_E_INVALID_ARGUMENT;
    }
    try {
        const auto* entry = vark::host::findClass(classOrProgId);
        if (entry == nullptr) {
            return VARK_E_CLASS_NOT_AVAILABLE;
        }
        *object = reinterpret_cast<VarkComponentObject*>(entry->create().release());
        return VARK_OK;
    } catch (...) {
        return VARK_E_UNEXPECTED;
    }
}

void* VARK_QueryInterface(VarkComponentObject* object, const char* interfaceId) {
    if (object == nullptr || interfaceId == nullptr) {
        return nullptr;
    }
    try {
        return reinterpret_cast<ComponentObject*>(object)->QueryInterface(interfaceId);
    } catch (...) {
        return nullptr;
    }
}

void VARK_ReleaseObject(VarkComponentObject* object) {
    delete reinterpret_cast<ComponentObject*>(object);
}

int VARK_RegisterServer(void) {
    return vark::host::resultOf([] { vark::host::RegisterServer(); });
}

int VARK_UnregisterServer(void) {
    return vark::host::resultOf([] { vark::host::UnregisterServer(); });
}

int VARK_CanUnloadNow(void) {
    return vark::host::LiveComponentObjects() == 0 ? 1 : 0;
}

const char* VARK_ResultText(int result) {
    switch (result) {
        case VARK_OK:
            return "success";
        case VARK_E_INVALID_ARGUMENT:
            return "invalid argument";
        case VARK_E_CLASS_NOT_AVAILABLE:
            return "class not available";
        case VARK_E_REGISTRY:
            return "the component registry cannot be written";
        default:
            return "unexpected failure";
    }
}

}  // extern "C"
