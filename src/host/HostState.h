#pragma once

#include <memory>

#include "host/host.h"

namespace vark {

/// The shared application reference: set by the command's OnCreate when its
/// hook is an application, never cleared by the command. The only way from
/// the dialog and the criterion file to the document and its focus map.
std::shared_ptr<host::Application>& g_pApplication();

}  // namespace vark
