"""libtembra from Python: TD, Sarsa and Watkins' Q(lambda) learners with
lookup tables, tile coding and a neural network as value functions.

The classes and functions are the library's, under their C++ names: derive
an agent from TD, Sarsa or Watkins, implement setInitialState, takeAction,
observeState and calculateReward, give it a value function and call
controlLoop(). tembra.gym learns on environments that follow the Gymnasium
API. docs/python.md in the source tree tells the whole story.
"""

from ._tembra import (
    AbstractAction,
    ActionLookupTable,
    ActionTileCoding,
    ActionTilings,
    ActionValueFunction,
    NeuralNetwork,
    Sarsa,
    State,
    StateLookupTable,
    StateTileCoding,
    StateTilings,
    StateValueFunction,
    TD,
    Tembra,
    Tilings,
    Types,
    ValueFunction,
    Watkins,
    getNextDouble,
    getRandomIndex,
    setSeed,
)

__all__ = [
    "AbstractAction",
    "ActionLookupTable",
    "ActionTileCoding",
    "ActionTilings",
    "ActionValueFunction",
    "NeuralNetwork",
    "Sarsa",
    "State",
    "StateLookupTable",
    "StateTileCoding",
    "StateTilings",
    "StateValueFunction",
    "TD",
    "Tembra",
    "Tilings",
    "Types",
    "ValueFunction",
    "Watkins",
    "getNextDouble",
    "getRandomIndex",
    "setSeed",
]

# The classes show up as tembra.X, where a user finds them.
for _name in __all__:
    _object = globals()[_name]
    if isinstance(_object, type):
        _object.__module__ = __name__
del _name, _object
