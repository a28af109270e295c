#include "support/Failure.h"

#include <exception>
#include <new>

namespace vark {

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
