#include "RepairFzy.h"

#include "BatchErrors.h"
#include "criterion_file/FzyRepair.h"

namespace vark::app {

int RunRepairFzy(const std::string& path, BatchIo& io) noexcept {
    try {
        const FzyRepairResult result = RepairCriterionFile(path);
        if (!result.repaired) {
            io.out << Said(clitext::kNothingToRepair, "%1 is not damaged: nothing to repair.",
                           {path})
                   << '\n';
            return kExitOk;
        }
        io.out << Said(clitext::kRepaired,
                       "%1: %2 of the %3 records its header counts were kept; the old file was "
                       "put aside as %4.",
                       {path, std::to_string(result.keptRecords),
                        std::to_string(result.countedRecords), result.damagedCopy})
               << "\n  (" << result.damage << ")\n";
        return kExitOk;
    } catch (...) {
        const Failure failure = CurrentFailure();
        return TellFailure(io.err, PlainSentence(failure, "repair-fzy"), failure,
                           {"vark-fuzzy", "repair-fzy", {}}, io.verbose);
    }
}

}  // namespace vark::app
