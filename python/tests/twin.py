"""The Python twin of twin.cpp: the same seeded runs with the hooks in Python.

test_files.py compares the files both write byte for byte; python/bench/speed.py
times the speed runs on both sides.
"""

import math
import os
import time

import tembra


def min_max(value, lower, upper):
    """The library's clamp, in its order of comparisons."""
    m = value if lower < value else lower
    return m if m < upper else upper


class Move(tembra.AbstractAction):
    def __init__(self, d_row, d_column):
        super().__init__()
        self.d_row = d_row
        self.d_column = d_column


class Throttle(tembra.AbstractAction):
    def __init__(self, direction):
        super().__init__()
        self.direction = direction


class Cliff(tembra.Sarsa):
    """Cliff walking: Sarsa, epsilon-greedy, one-step, on a table of row x column."""

    def __init__(self, conf):
        super().__init__(conf)
        self.ALPHA = 0.1
        self.GAMMA = 1.0
        self.EPSILON = 0.1
        self.ACTION_SELECTION = tembra.Tembra.EPSILON_GREEDY
        self.TRACES = tembra.Tembra.NONE
        self.state = tembra.State()
        self.state.registerVariable("row", 0, 3)
        self.state.registerVariable("column", 0, 11)
        self.q = tembra.ActionLookupTable(self.state)
        for move in (Move(-1, 0), Move(1, 0), Move(0, -1), Move(0, 1)):
            self.q.registerAction(move)
        self.q.create()
        self.avfPtr = self.q
        self.row, self.column, self.reward = 3, 0, 0.0

    def setInitialState(self):
        self.row, self.column = 3, 0
        self.write()

    def takeAction(self):
        move = self.q.getActiveAction()
        self.row = min(max(self.row + move.d_row, 0), 3)
        self.column = min(max(self.column + move.d_column, 0), 11)
        self.reward = -1.0
        if self.row == 3 and 0 < self.column < 11:
            self.reward = -100.0
            self.row, self.column = 3, 0

    def observeState(self):
        self.write()
        return not (self.row == 3 and self.column == 11)

    def calculateReward(self):
        return self.reward

    def finishEpisode(self):
        if self.episodes >= 100:
            self.continueLearning = False

    def write(self):
        self.state.setValueInt(0, self.row)
        self.state.setValueInt(1, self.column)


def car_values():
    state = tembra.State()
    state.registerVariable("position", -1.2, 0.5)
    state.registerVariable("velocity", -0.07, 0.07)
    q = tembra.ActionTileCoding(state)
    for direction in (-1, 0, 1):
        q.registerAction(Throttle(direction))
    q.registerTiling(tembra.ActionTilings(8, [(0, 1.7 / 64, tembra.Types.CLIP), (1, 0.14 / 64, tembra.Types.CLIP)]))
    return q


def mountain_car(learner):
    """A mountain-car agent on the learner class; the twin of MountainCar<Learner>."""

    class MountainCar(learner):
        def __init__(self, conf, episodes, step_limit, epsilon):
            super().__init__(conf)
            self.ACTION_SELECTION = tembra.Tembra.EPSILON_GREEDY if epsilon > 0 else tembra.Tembra.GREEDY
            self.EPSILON = epsilon
            self.ALPHA = 0.5
            self.LAMBDA = 0.9
            self.GAMMA = 1.0
            self.TRACES = tembra.Tembra.REPLACING
            self.q = car_values()
            self.avfPtr = self.q
            self.state = self.q.getStatePtr()
            self.last_episode = episodes
            self.step_limit = step_limit
            self.total_steps = 0
            self.position, self.velocity = -0.5, 0.0

        def setInitialState(self):
            self.position = -0.6 + 0.2 * tembra.getNextDouble()
            self.velocity = 0.0
            self.write()

        def takeAction(self):
            direction = self.q.getActiveAction().direction
            self.velocity = min_max(self.velocity + 0.001 * direction - 0.0025 * math.cos(3.0 * self.position),
                                    -0.07, 0.07)
            self.position = min_max(self.position + self.velocity, -1.2, 0.5)
            if self.position == -1.2 and self.velocity < 0.0:
                self.velocity = 0.0

        def observeState(self):
            self.write()
            self.total_steps += 1
            return self.position < 0.5 and (self.step_limit == 0 or self.steps < self.step_limit)

        def calculateReward(self):
            return -1.0

        def finishEpisode(self):
            if self.episodes >= self.last_episode:
                self.continueLearning = False

        def write(self):
            self.state.setValueDbl(0, self.position)
            self.state.setValueDbl(1, self.velocity)

    return MountainCar


class Walk(tembra.TD):
    """A random walk over 0..6 from 3; TD on a network."""

    def __init__(self, conf):
        super().__init__(conf)
        self.ALPHA = 0.2
        self.LAMBDA = 0.5
        self.GAMMA = 1.0
        state = tembra.State()
        state.registerVariable("position", 0.0, 6.0)
        self.v = tembra.NeuralNetwork(state, 3)
        self.v.setScaleFactor(0, 1.0 / 6.0)
        self.svfPtr = self.v
        self.state = state
        self.position = 3

    def setInitialState(self):
        self.position = 3
        self.state.setValueDbl(0, self.position)

    def takeAction(self):
        self.position += -1 if tembra.getRandomIndex(2) == 0 else 1

    def observeState(self):
        self.state.setValueDbl(0, self.position)
        return 0 < self.position < 6

    def calculateReward(self):
        return 1.0 if self.position == 6 else 0.0

    def finishEpisode(self):
        if self.episodes >= 30:
            self.continueLearning = False


class Nothing(tembra.AbstractAction):
    pass


class Empty(tembra.Sarsa):
    """Hooks that do nothing: one episode of step_count steps on a one-cell table."""

    def __init__(self, conf, step_count):
        super().__init__(conf)
        self.TRACES = tembra.Tembra.NONE
        self.ACTION_SELECTION = tembra.Tembra.GREEDY
        state = tembra.State()
        state.registerVariable("cell", 0, 0)
        q = tembra.ActionLookupTable(state)
        q.registerAction(Nothing())
        q.create()
        self.avfPtr = q
        self.step_count = step_count

    def setInitialState(self):
        pass

    def takeAction(self):
        pass

    def observeState(self):
        return self.steps < self.step_count

    def calculateReward(self):
        return 0.0

    def finishEpisode(self):
        self.continueLearning = False


def run(task, directory):
    """Learns one of the tasks cliff, car, walk and saves its file; the path."""
    conf = os.path.join(directory, task + ".conf")
    if task == "cliff":
        agent, name = Cliff(conf), "cliff.q"
    elif task == "car":
        agent, name = mountain_car(tembra.Watkins)(conf, 10, 500, 0.05), "car.q"
    else:
        agent, name = Walk(conf), "walk.v"
    agent.controlLoop()
    path = os.path.join(directory, name)
    (agent.avfPtr if task != "walk" else agent.svfPtr).save(path)
    return path


def speed(task, directory, count):
    """(steps, seconds) of a speed run: speed-car over count episodes, speed-empty of count steps."""
    conf = os.path.join(directory, task + ".conf")
    if task == "speed-car":
        agent = mountain_car(tembra.Sarsa)(conf, count, 0, 0.0)
    else:
        agent = Empty(conf, count)
    start = time.perf_counter()
    agent.controlLoop()
    seconds = time.perf_counter() - start
    return (agent.total_steps if task == "speed-car" else count), seconds
