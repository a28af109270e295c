#pragma once

// The component's entry points: how a host creates the command and the root
// menu, registers and unregisters the component, and asks whether the
// library may be unloaded. Plain C functions, so that a host can find them
// with dlsym() after dlopen() of VARK_fuzzy.so.
//
// Objects are created by class id ("{A8DD6A25-...}") or program id
// ("VARK_fuzzy.clsRequeteText", "VARK_fuzzy.menu_requeteur"), matched
// without regard to case. A created object is asked for its interfaces by
// interface id (host/ComponentIds.h); the pointer returned is of that
// interface's type (vark::host::ICommand*, IMenuDef*, ...) and is valid until
// the object is released.
//
// Registration writes to a per-user component registry, an INI file
// (ComponentRegistryFile()), for each class: its class name, program id,
// library path, threading model, default interface, type-library id and
// version; for each program id: its class id; for the type library: its
// name, version and library path. None of the functions throws.

#include <stdint.h>

#define VARK_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/// An object created by VARK_CreateObject (a vark::host::ComponentObject).
typedef struct VarkComponentObject VarkComponentObject;

enum {
    VARK_OK = 0,
    VARK_E_INVALID_ARGUMENT = 1,
    VARK_E_CLASS_NOT_AVAILABLE = 2,
    VARK_E_REGISTRY = 3,
    VARK_E_UNEXPECTED = 4
};

/// Creates an object of the class named by `classOrProgId`. On success
/// stores it in `*object` and returns VARK_OK; otherwise stores NULL and
/// returns an error code (VARK_E_CLASS_NOT_AVAILABLE for an unknown id).
VARK_EXPORT int VARK_CreateObject(const char* classOrProgId, VarkComponentObject** object);
/// The interface `interfaceId` of `object`, or NULL when it has none.
VARK_EXPORT void* VARK_QueryInterface(VarkComponentObject* object, const char* interfaceId);
/// Destroys `object` (NULL is allowed). Interface pointers obtained from it
/// become invalid.
VARK_EXPORT void VARK_ReleaseObject(VarkComponentObject* object);
/// Enters both classes and the type library in the component registry.
VARK_EXPORT int VARK_RegisterServer(void);
/// Removes what VARK_RegisterServer entered; entries absent already are fine.
VARK_EXPORT int VARK_UnregisterServer(void);
/// 1 when no object created by this library is alive, otherwise 0.
VARK_EXPORT int VARK_CanUnloadNow(void);
/// A short English text for a result code.
VARK_EXPORT const char* VARK_ResultText(int result);

typedef int (*VarkCreateObjectFn)(const char*, VarkComponentObject**);
typedef void* (*VarkQueryInterfaceFn)(VarkComponentObject*, const char*);
typedef void (*VarkReleaseObjectFn)(VarkComponentObject*);
typedef int (*VarkRegisterServerFn)(void);
typedef int (*VarkUnregisterServerFn)(void);
typedef int (*VarkCanUnloadNowFn)(void);
typedef const char* (*VarkResultTextFn)(int);

#ifdef __cplusplus
}  // extern "C"

#include <optional>
#include <string>
#include <string_view>

namespace vark::host {

/// The per-user component registry: $XDG_CONFIG_HOME/VARK/components.ini
/// (~/.config/VARK/components.ini when the variable is unset), looked up
/// anew at each call.
std::string ComponentRegistryFile();

/// A class as the component registry records it.
struct RegisteredClass {
    std::string classId;
    std::string className;
    std::string progId;
    std::string library;
    std::string threadingModel;
    std::string defaultInterface;
    std::string typeLibraryId;
    std::string typeLibraryVersion;
};

/// The registry's entry for a class id or a program id; nullopt when absent.
/// Throws Failure when the registry cannot be read.
std::optional<RegisteredClass> FindRegisteredClass(std::string_view classOrProgId);

/// What VARK_RegisterServer / VARK_UnregisterServer do, throwing Failure
/// (with the registry's path) when the registry cannot be written.
void RegisterServer();
void UnregisterServer();

}  // namespace vark::host
#endif
