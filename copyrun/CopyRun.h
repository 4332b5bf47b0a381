#pragma once
// The copy run behind "Copy Workspaces": copies every table into the target layout, writes
// the stubs and the rewritten workspaces, the graph files, the CD files and the archive.
#include "analysis/CopyFormState.h"

namespace copyrun {

// How a run ended, for the batch front end's exit status.
enum class RunOutcome {
    Finished,        // "Finished Copying!"
    Cancelled,       // "Copying interrupted by user. ..."
    NotStarted,      // the target folder could not be created
};

// Runs the whole copy run on `state` (its workspace and table lists already refreshed).
// Problems are shown through app::UI() and the run goes on; an unguarded error is thrown.
RunOutcome btnCopyClick(analysis::CopyFormState& state);

}  // namespace copyrun
