// The recovery worker: a repair that a crash cut short is undone, or finished,
// as the program starts, before the player can start another.
#include "EngineState.h"

#include "DiagnosticsLog.h"
#include "StagedRepair.h"

namespace {

RecoveryOutcome OutcomeOf(Recovery recovery)
{
    switch (recovery) {
    case Recovery::NothingToDo: return NothingToRecover;
    case Recovery::RolledBack: return RecoveryRolledBack;
    case Recovery::Completed: return RecoveryCompleted;
    case Recovery::Unreadable: return RecoveryUnreadable;
    case Recovery::Failed: break;
    }
    return RecoveryFailed;
}

}  // namespace

void RepairEngine::RunRecoveryWorker()
{
    const RecoveryOutcome outcome = OutcomeOf(RecoverInterruptedRepair(installFolder));
    if (outcome == NothingToRecover) {
        Log(L"no earlier repair of " + installFolder + L" was cut short");
    }
    PostClosingEvent(RecoveryEnded, outcome);
}
