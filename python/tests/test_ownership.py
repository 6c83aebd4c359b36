"""Ownership: the library owns by pointer (a learner its value function, a
value function its State and actions, a tile coding its groups); Python may
drop its references in any order without a double free or a dangling
object, and nothing is handed over twice."""

import gc
import itertools
import weakref

import numpy
import pytest

import tembra
from conftest import Step


class Agent(tembra.Sarsa):
    """Three steps per episode, two episodes per loop; keeps no reference to
    its value function."""

    def setInitialState(self):
        self.avfPtr.getStatePtr().setValueDbl(0, 0.1)

    def takeAction(self):
        pass

    def observeState(self):
        self.avfPtr.getStatePtr().setValueDbl(0, 0.1 * self.steps)
        return self.steps < 3

    def calculateReward(self):
        return -1.0

    def finishEpisode(self):
        self.continueLearning = self.episodes % 2 != 0


def build(conf):
    state = tembra.State()
    state.registerVariable("x", 0.0, 1.0)
    state.registerVariable("y", 0.0, 1.0)
    values = tembra.ActionTileCoding(state)
    action = Step(+1)
    values.registerAction(action)
    values.registerAction(Step(-1))
    group = tembra.ActionTilings(2, [(0, 0.25, tembra.Types.CLIP), (1, 0.25, tembra.Types.WRAP)])
    values.registerTiling(group)
    learner = Agent(str(conf))
    learner.avfPtr = values
    return {"learner": learner, "values": values, "state": state, "group": group, "view": group.weights}, weakref.ref(action)


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


def test_nothing_is_handed_over_twice(tmp_path):
    objects, _ = build(tmp_path / "agent.conf")
    for give, message in [(lambda: tembra.StateLookupTable(objects["state"]), "State belongs to another"),
                          (lambda: setattr(objects["learner"], "avfPtr", tembra.ActionLookupTable(tembra.State())),
                           "owns a value function already"),
                          (lambda: setattr(tembra.Watkins(str(tmp_path / "w.conf")), "avfPtr", objects["values"]),
                           "value function belongs to another"),
                          (lambda: tembra.ActionTileCoding(tembra.State()).registerTiling(objects["group"]),
                           "group belongs to another")]:
        with pytest.raises(ValueError, match=message):
            give()
    assert objects["learner"].avfPtr is objects["values"] and objects["values"].getStatePtr() is objects["state"]
    assert objects["values"].groups == [objects["group"]]


def test_groups_the_library_deleted_leave_detached_wrappers(tmp_path):
    objects, _ = build(tmp_path / "agent.conf")
    values, group = objects["values"], objects["group"]
    refused = tembra.ActionTilings(2, [(5, 0.25, tembra.Types.CLIP)])
    with pytest.raises(ValueError, match="refused"):
        values.registerTiling(refused)
    # Loading replaces every group: the old wrapper is detached, or (the
    # allocator gave the new group the old one's place) shows the new group.
    del objects["view"]
    values.save(tmp_path / "q")
    values.load(tmp_path / "q")
    for old in (refused, group):
        try:
            assert old.getNumberOfTilings() == 2 and old is values.groups[0]
        except ValueError as error:
            assert "deleted" in str(error)
    with pytest.raises(ValueError, match="deleted"):
        values.registerTiling(refused)
    assert values.getNumberOfGroups() == 1 and values.groups[0].getNumberOfTilings() == 2


def test_objects_the_library_made_keep_their_owner_alive_and_cycles_are_collected(tmp_path):
    objects, action = build(tmp_path / "agent.conf")
    objects["values"].save(tmp_path / "q")
    loaded = tembra.ActionTileCoding(tmp_path / "q")
    state, group = loaded.getStatePtr(), loaded.groups[0]
    assert loaded.getNumberOfActions() == 2 and loaded.getAction(0) is None
    loaded.setAction(0, Step(+1))
    owner = weakref.ref(loaded)
    del loaded
    gc.collect()
    state.setValueDbl(0, 0.5)
    assert group.getNumberOfTilings() == 2 and owner().getAction(0).direction == 1
    del state, group
    gc.collect()
    assert owner() is None
    # A learner that refers to itself and to what it owns.
    agent = objects.pop("learner")
    agent.values, agent.state, agent.myself = objects.pop("values"), objects.pop("state"), agent
    objects.clear()
    USES["learner"](agent)
    collected = weakref.ref(agent)
    del agent
    gc.collect()
    assert collected() is None and action() is None
