#pragma once

// The computation as the dialog's "Calculer" button runs it, from the
// criterion file on, without any window: the dialog and the batch command
// "compute" both run it on a target they have resolved themselves.

#include <cstdint>
#include <string>

#include "criterion/CriterionComputation.h"

namespace vark {

/// How a run ended without a failure.
enum class RunOutcome {
    /// The field was added, every feature written, the record appended.
    Computed,
    /// The host is editing data: nothing was added to the layer.
    Editing,
};

struct CriterionRun {
    RunOutcome outcome = RunOutcome::Computed;
    /// The computation's result when `outcome` is Computed.
    CriterionResult result;
};

/// How long a run waits for another run on the same layer to finish.
inline constexpr std::int32_t kLayerLockWaitMilliseconds = 5000;

/// Runs, in this order, on the target the caller resolved (the feature
/// class in `request`, its workspace path and its layer's display name):
/// 0. the feature class's update lock is taken for the whole run (waiting
///    up to kLayerLockWaitMilliseconds for another run to end);
/// 1. the layer's criterion file is opened (created when absent) and its
///    records are checked against the fields the feature class has now
///    (CriterionFileRun, FieldsOf); the marker stays as the caller left it
///    until the file is open, then becomes 2;
/// 2. the editing guard: while `application`'s editor is in edit state 1
///    the run stops with outcome Editing and changes nothing;
/// 3. ComputeCriterion with `request`, which, once nothing can refuse the
///    run any more, clears the criterion file of the records of fields that
///    no longer exist and appends the record.
/// The criterion file is closed on every way out, exactly once. Throws
/// Failure (the request's feature class missing: 91, before the file is
/// opened); `marker` holds the progress marker reached. Touches no dialog
/// state or window.
CriterionRun RunCriterionComputation(host::Application& application,
                                     const std::string& workspacePath, const std::string& layerName,
                                     const CriterionRequest& request, std::int32_t& marker);

}  // namespace vark
