#include "support/Failure.h"

#include <cerrno>
#include <exception>
#include <new>

namespace vark {

std::int32_t FileErrorNumber(int error) {
    if (error == ENOENT || error == ENOTDIR) {
        return err::kPathNotFound;
    }
    if (error == EACCES || error == EPERM || error == EROFS) {
        return err::kPermissionDenied;
    }
    return err::kDeviceIoError;
}

Failure CurrentFailure() {
    if (!std::current_exception()) {
        return Failure(err::kUnexpected, "Unknown error", err::kRuntimeSource);
    }
    try {
        throw;
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::bad_alloc&) {
        return Failure(err::kUnexpected, "Out of memory", err::kRuntimeSource);
    } catch (const std::exception& e) {
        return Failure(err::kUnexpected, e.what(), err::kRuntimeSource);
    } catch (...) {
        return Failure(err::kUnexpected, "Unknown error", err::kRuntimeSource);
    }
}

}  // namespace vark
