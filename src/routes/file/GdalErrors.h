#pragma once

// GDAL's messages gathered into the tool's failures, for every route and
// host that calls GDAL.

#include <cpl_error.h>

#include <string>

#include "support/Failure.h"

namespace vark::routes {

/// Name of the source of the adapter's failures.
inline constexpr const char* kGdalSource = "GDAL";

/// Collects the messages GDAL emits while it lives (and keeps them off
/// stderr). Install one around every GDAL call that can fail.
class GdalErrorScope {
public:
    GdalErrorScope();
    ~GdalErrorScope();
    GdalErrorScope(const GdalErrorScope&) = delete;
    GdalErrorScope& operator=(const GdalErrorScope&) = delete;

    /// The last failure message, else the last warning, else "".
    std::string message() const;
    bool hadFailure() const { return !m_failure.empty(); }
    bool hadWarning() const { return !m_warning.empty(); }
    const std::string& warning() const { return m_warning; }

private:
    static void CPL_STDCALL handler(CPLErr level, CPLErrorNum number, const char* message);
    std::string m_failure;
    std::string m_warning;
};

/// A Failure numbered err::kHostFailure: `what`, then GDAL's message if any.
Failure gdalFailure(const std::string& what, const GdalErrorScope& scope);
Failure gdalFailure(const std::string& what, const std::string& gdalMessage = {});

}  // namespace vark::routes
