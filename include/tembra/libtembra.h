#ifndef TEMBRA_LIBTEMBRA_H
#define TEMBRA_LIBTEMBRA_H

// Thread safety: use one learner per thread and share nothing it owns
// (value function, State, actions) across threads; every random decision
// draws from the process-wide rand(), which all learners and the using
// program share. A learner's constructor blocks the four control signals
// (SIGUSR1, SIGUSR2, SIGTERM, SIGINT) in the constructing thread, which
// consumes them between steps; threads started afterwards inherit the mask,
// so construct the learner first or block the signals in the other threads.
//
// The umbrella header: one include for the whole public interface.
// Each public header added to the library is listed here as well.

#include "Export.h"
#include "Types.h"
#include "Report.h"
#include "Utility.h"
#include "AbstractAction.h"
#include "VarValues.h"
#include "VarValuesInt.h"
#include "VarValuesDouble.h"
#include "State.h"
#include "ValueFunction.h"
#include "StateValueFunction.h"
#include "ActionValueFunction.h"
#include "LookupTable.h"
#include "StateLookupTable.h"
#include "ActionLookupTable.h"
#include "NeuralNetwork.h"
#include "Tilings.h"
#include "StateTilings.h"
#include "ActionTilings.h"
#include "TileCoding.h"
#include "StateTileCoding.h"
#include "ActionTileCoding.h"
#include "Tembra.h"
#include "TD.h"
#include "Sarsa.h"
#include "Watkins.h"

#endif
