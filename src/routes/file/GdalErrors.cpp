#include "routes/file/GdalErrors.h"

#include "routes/pg/PgPassword.h"

namespace vark::routes {

using pg::WithoutPassword;

GdalErrorScope::GdalErrorScope() {
    CPLErrorReset();
    CPLPushErrorHandlerEx(&GdalErrorScope::handler, this);
}

GdalErrorScope::~GdalErrorScope() {
    CPLPopErrorHandler();
}

void CPL_STDCALL GdalErrorScope::handler(CPLErr level, CPLErrorNum, const char* message) {
    auto* self = static_cast<GdalErrorScope*>(CPLGetErrorHandlerUserData());
    if (!self || !message) {
        return;
    }
    // A driver may quote its connection string: no password goes further.
    if (level == CE_Failure || level == CE_Fatal) {
        self->m_failure = WithoutPassword(message);
    } else if (level == CE_Warning) {
        self->m_warning = WithoutPassword(message);
    }
}

std::string GdalErrorScope::message() const {
    if (!m_failure.empty()) {
        return m_failure;
    }
    return m_warning;
}

Failure gdalFailure(const std::string& what, const std::string& gdalMessage) {
    std::string description = what;
    if (!gdalMessage.empty()) {
        description += ": " + gdalMessage;
    }
    return Failure(err::kHostFailure, std::move(description), kGdalSource);
}

Failure gdalFailure(const std::string& what, const GdalErrorScope& scope) {
    return gdalFailure(what, scope.message());
}

}  // namespace vark::routes
