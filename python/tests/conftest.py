"""What the Python tests share: a small agent whose hooks can be told to fail."""

import pytest

import tembra


class Step(tembra.AbstractAction):
    def __init__(self, direction):
        super().__init__()
        self.direction = direction


def corridor_values():
    """Q over cells 0..6 with the steps left and right."""
    state = tembra.State()
    state.registerVariable("cell", 0, 6)
    q = tembra.ActionLookupTable(state)
    q.registerAction(Step(-1))
    q.registerAction(Step(+1))
    q.create()
    return q


def corridor_class(base=tembra.Sarsa):
    class Corridor(base):
        """Walks from cell 0 to the door in cell 6, -1 per step, for a given
        number of episodes. on_step(agent, hook) runs in every hook; the
        finished episodes are kept as (episode, steps, cell)."""

        def __init__(self, conf, episodes=5, values=None):
            super().__init__(str(conf))
            self.ACTION_SELECTION = tembra.Tembra.EPSILON_GREEDY
            self.q = values if values is not None else corridor_values()
            self.avfPtr = self.q
            self.state = self.q.getStatePtr()
            self.last = episodes
            self.cell = 0
            self.finished = []
            self.on_step = None

        def hook(self, name):
            if self.on_step is not None:
                self.on_step(self, name)

        def setInitialState(self):
            self.hook("setInitialState")
            self.cell = 0
            self.state.setValueInt(0, 0)

        def takeAction(self):
            self.hook("takeAction")
            self.cell = min(max(self.cell + self.q.getActiveAction().direction, 0), 6)

        def observeState(self):
            self.hook("observeState")
            self.state.setValueInt(0, self.cell)
            return self.cell != 6

        def calculateReward(self):
            self.hook("calculateReward")
            return -1.0

        def finishEpisode(self):
            self.hook("finishEpisode")
            self.finished.append((self.episodes, self.steps, self.cell))
            if self.episodes >= self.last:
                self.continueLearning = False

    return Corridor


@pytest.fixture
def corridor(tmp_path):
    """Makes Corridor agents (Sarsa unless told) with configuration files in tmp_path."""
    count = [0]

    def make(episodes=5, base=tembra.Sarsa, values=None):
        count[0] += 1
        return corridor_class(base)(tmp_path / f"corridor{count[0]}.conf", episodes, values)

    return make
