# Ownership: the library owns by pointer (a learner its value function, a value function its State and actions, a
# tile coding its groups); Python may drop its references in any order without a double free or a dangling object.

import gc
import itertools
import weakref

import numpy
import pytest

import tembra
from conftest import Step


class Agent(tembra.Sarsa):
    # Three steps per episode, two episodes per loop; keeps no reference to its value function.
    takeAction = lambda self: None  # noqa: E731
    calculateReward = lambda self: -1.0  # noqa: E731

    def setInitialState(self):
        self.avfPtr.getStatePtr().setValueDbl(0, 0.1)

    def observeState(self):
        self.avfPtr.getStatePtr().setValueDbl(0, 0.1 * self.steps)
        return self.steps < 3

    def finishEpisode(self):
        self.continueLearning = self.episodes % 2 != 0


def build(conf):
    state = tembra.State()
    state.registerVariable("x", 0.0, 1.0)
    state.registerVariable("y", 0.0, 1.0)
    values, action = tembra.ActionTileCoding(state), Step(+1)
    values.registerAction(action)
    values.registerAction(Step(-1))
    group = tembra.ActionTilings(2, [(0, 0.25, tembra.Types.CLIP), (1, 0.25, tembra.Types.WRAP)])
    values.registerTiling(group)
    learner = Agent(str(conf))
    learner.avfPtr = values
    objects = {"learner": learner, "values": values, "state": state, "group": group, "view": group.weights}
    return objects, weakref.ref(action)


USES = {
    "learner": lambda learner: (setattr(learner, "continueLearning", True), learner.controlLoop()),
    "values": lambda values: (values.setState(), values.setGreedyActionIndex(), values.getActionValue(1)),
    "state": lambda state: state.setValueDbl(1, 0.7),
    "group": lambda group: numpy.testing.assert_equal(group.getNumberOfTilings(), 2),
    "view": lambda view: numpy.add(view, 0.5, out=view),
}


@pytest.mark.parametrize("order", list(itertools.permutations(USES)), ids="-".join)
def test_references_can_be_dropped_in_any_order(tmp_path, order):
    objects, action = build(tmp_path / "agent.conf")
    for name in order:
        del objects[name]
        for other in objects:
            USES[other](objects[other])
    gc.collect()
    # The last reference took the learner, and with it everything it owned.
    assert action() is None
