#pragma once

// The dialog module's check of a host object it is about to use.

#include <memory>
#include <string>

#include "support/Failure.h"

namespace vark {

/// `object` itself, kept alive by the caller's copy of the pointer. Throws
/// Failure 91 ("Object variable or With block variable not set (<what>)",
/// from `source`) when it is empty.
template <typename T>
std::shared_ptr<T> RequireObject(std::shared_ptr<T> object, const char* what, const char* source) {
    if (!object) {
        throw Failure(err::kObjectVariableNotSet,
                      std::string("Object variable or With block variable not set (") + what + ")",
                      source);
    }
    return object;
}

}  // namespace vark
