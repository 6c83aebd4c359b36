"""tembra.gym on environments written here to the Gymnasium API: cliff
walking, the classic mountain car, and a one-state task that tells a
truncated episode from a terminated one."""

import math
import random

import numpy
import pytest

import tembra
from tembra.gym import Agent


class Discrete:
    def __init__(self, n, start=0):
        self.n, self.start = n, start


class Box:
    def __init__(self, low, high):
        self.low, self.high = numpy.array(low, dtype=numpy.float32), numpy.array(high, dtype=numpy.float32)
        self.shape = self.low.shape


class CliffWalking:
    """4 x 12 grid, observation row * 12 + column, actions up, right, down,
    left; the cliff costs -100 and sends back to the start; the goal ends
    the episode."""

    observation_space = Discrete(48)
    action_space = Discrete(4)
    moves = [(-1, 0), (0, 1), (1, 0), (0, -1)]

    def reset(self, seed=None, options=None):
        self.row, self.column = 3, 0
        return 36, {}

    def step(self, action):
        d_row, d_column = self.moves[action]
        self.row = min(max(self.row + d_row, 0), 3)
        self.column = min(max(self.column + d_column, 0), 11)
        reward = -1.0
        if self.row == 3 and 0 < self.column < 11:
            reward, self.row, self.column = -100.0, 3, 0
        return self.row * 12 + self.column, reward, (self.row, self.column) == (3, 11), False, {}


class MountainCar:
    """The classic dynamics, cut after 200 steps as MountainCar-v0 is."""

    observation_space = Box([-1.2, -0.07], [0.6, 0.07])
    action_space = Discrete(3)

    def reset(self, seed=None, options=None):
        if seed is not None or not hasattr(self, "random"):
            self.random = random.Random(seed)
        self.state = numpy.array([self.random.uniform(-0.6, -0.4), 0.0], dtype=numpy.float32)
        self.steps = 0
        return self.state, {}

    def step(self, action):
        position, velocity = (float(x) for x in self.state)
        velocity = min(max(velocity + (action - 1) * 0.001 + math.cos(3 * position) * -0.0025, -0.07), 0.07)
        position = min(max(position + velocity, -1.2), 0.6)
        if position == -1.2 and velocity < 0:
            velocity = 0.0
        self.state = numpy.array([position, velocity], dtype=numpy.float32)
        self.steps += 1
        terminated = position >= 0.5 and velocity >= 0
        return self.state, -1.0, terminated, self.steps >= 200 and not terminated, {}


class OneStep:
    """One state, one action, reward 1, every episode one step long and
    ending terminated or truncated."""

    observation_space = Discrete(1)
    action_space = Discrete(1)

    def __init__(self, terminated):
        self.terminated = terminated

    def reset(self, seed=None, options=None):
        return 0, {}

    def step(self, action):
        return 0, 1.0, self.terminated, not self.terminated, {}


def test_sarsa_learns_the_safe_path_along_the_cliff(tmp_path):
    agent = Agent(CliffWalking(), "sarsa", config=tmp_path / "cliff.conf")
    agent.learner.ACTION_SELECTION = tembra.Tembra.EPSILON_GREEDY
    agent.learner.ALPHA, agent.learner.GAMMA, agent.learner.TRACES = 0.5, 1.0, tembra.Tembra.NONE
    curve = agent.learn(500, seed=3)
    assert len(curve) == 500 and all(episode.terminated for episode in curve)
    env, path = CliffWalking(), []
    observation, _ = env.reset()
    while observation != 47 and len(path) < 100:
        observation, reward, *_ = env.step(agent.act(observation))
        path.append((observation // 12, observation % 12, reward))
    assert observation == 47 and all(reward == -1 for *_, reward in path)
    # Away from the edge: no step on the row just above the cliff.
    assert all(not (row == 2 and 0 < column < 11) for row, column, _ in path)


def test_sarsa_on_tiles_gets_the_mountain_car_up_in_fewer_than_200_steps(tmp_path):
    agent = Agent(MountainCar(), "sarsa", "tiles", config=tmp_path / "car.conf")
    agent.learner.ALPHA, agent.learner.LAMBDA, agent.learner.GAMMA = 0.5, 0.9, 1.0
    curve = agent.learn(200, seed=1)
    assert len(curve) == 200 and not curve[0].terminated
    assert all(episode.terminated and episode.steps < 200 for episode in curve[-10:])
    agent.save(tmp_path / "car.q")
    assert tembra.ActionTileCoding(tmp_path / "car.q").getNumberOfActions() == 3


@pytest.mark.parametrize("learner", ["sarsa", "watkins", "td"])
@pytest.mark.parametrize("terminated, values", [(True, [1.0, 1.0, 1.0]), (False, [1.0, 1.5, 1.75])])
def test_a_truncated_episode_bootstraps_from_its_last_state_a_terminated_one_does_not(tmp_path, learner, terminated,
                                                                                       values):
    agent = Agent(OneStep(terminated), learner, config=tmp_path / "one.conf", policy=(lambda o: 0) if learner == "td" else None)
    agent.learner.ALPHA, agent.learner.GAMMA, agent.learner.TRACES = 1.0, 0.5, tembra.Tembra.NONE
    seen = []
    for _ in range(3):
        curve = agent.learn(1)
        assert curve == [(1, 1.0, terminated)]
        seen.append(agent.values.weights[0])
    assert seen == values


@pytest.mark.parametrize(
    "space, options, message",
    [
        (Box([0.0, -numpy.inf], [1.0, numpy.inf]), {}, "entry 1 has bounds"),
        (Box([0.0], [1.0]), {"values": "table"}, "Discrete observations"),
        (Discrete(3), {"values": "tiles"}, "Box observations"),
        (Box([0.0], [1.0]), {"values": "network"}, "learner='td'"),
        (Discrete(3), {"learner": "td"}, "policy="),
    ],
)
def test_what_does_not_fit_the_spaces_is_refused(tmp_path, space, options, message):
    env = OneStep(True)
    env.observation_space = space
    with pytest.raises(ValueError, match=message):
        Agent(env, config=tmp_path / "x.conf", **options)


def test_given_bounds_replace_infinite_ones_and_td_learns_on_a_network(tmp_path):
    env = OneStep(True)
    env.observation_space = Box([-numpy.inf], [numpy.inf])
    env.reset = lambda seed=None, options=None: (numpy.array([0.5]), {})
    env.step = lambda action: (numpy.array([0.5]), 1.0, True, False, {})
    agent = Agent(env, "td", "network", config=tmp_path / "n.conf", bounds=[(0.0, 2.0)], policy=lambda o: 0)
    assert agent.state.getMinValueDbl(0) == 0.0 and agent.state.getMaxValueDbl(0) == 2.0
    agent.learner.ALPHA = 2.0
    agent.write(numpy.array([0.5]))
    agent.values.setState()
    before = agent.values.getStateValue()
    agent.learn(20)
    agent.values.setState()
    assert agent.values.getStateValue() > before
