#pragma once

// The computation as the dialog's "Calculer" button runs it, from the
// criterion file on, without any window: the dialog and the batch command
// "compute" both run it.

#include <cstdint>
#include <string>

#include "dialog/CriterionComputation.h"

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

/// Runs, in this order:
/// 1. fzy_io_open(layerPath, layerName): the layer's criterion file is
///    opened (created when absent); `layerName` loses every ".shp";
/// 2. fzy_io_valid: records of fields the layer no longer has are removed;
/// 3. the feature class of the focus map's layer at `layerIndex`, through
///    g_pApplication (marker 2 once found);
/// 4. the editing guard: while the editor's state is 1 the run stops with
///    outcome Editing and adds nothing (the file may have been compacted by
///    step 2);
/// 5. ComputeCriterion with `request`, whose feature class, workspace path
///    and layer name are filled in here from steps 1 and 3.
/// The criterion file is closed on every way out. Throws Failure; `marker`
/// holds the progress marker reached (1 on entry). Does not parse or check
/// the graded entries beforehand (ComputeCriterion refuses bad ones before
/// writing) and touches no dialog state or window.
CriterionRun RunCriterionComputation(std::string& layerPath, std::string& layerName,
                                     std::int32_t layerIndex, CriterionRequest request,
                                     std::int32_t& marker);

}  // namespace vark
