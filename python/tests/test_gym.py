# tembra.gym on environments written here to the Gymnasium API: cliff walking, the classic mountain car, and a
# one-state task that tells a truncated episode from a terminated one.

import math
import random
from types import SimpleNamespace as Space

import numpy
import pytest

import tembra
from tembra.gym import Agent


def box(low, high):
    low, high = numpy.array(low, dtype=numpy.float32), numpy.array(high, dtype=numpy.float32)
    return Space(low=low, high=high, shape=low.shape)


class CliffWalking:
    # 4 x 12, observation row * 12 + column, actions up, right, down, left; the cliff costs -100 and leads back.
    observation_space, action_space = Space(n=48, start=0), Space(n=4, start=0)

    def reset(self, seed=None, options=None):
        self.row, self.column = 3, 0
        return 36, {}

    def step(self, action):
        d_row, d_column = [(-1, 0), (0, 1), (1, 0), (0, -1)][action]
        self.row, self.column = min(max(self.row + d_row, 0), 3), min(max(self.column + d_column, 0), 11)
        reward = -1.0
        if self.row == 3 and 0 < self.column < 11:
            reward, self.row, self.column = -100.0, 3, 0
        return self.row * 12 + self.column, reward, (self.row, self.column) == (3, 11), False, {}


class MountainCar:
    # The classic dynamics, cut after 200 steps as MountainCar-v0 is.
    observation_space, action_space = box([-1.2, -0.07], [0.6, 0.07]), Space(n=3, start=0)

    def reset(self, seed=None, options=None):
        if seed is not None or not hasattr(self, "random"):
            self.random = random.Random(seed)
        self.state, self.steps = numpy.array([self.random.uniform(-0.6, -0.4), 0.0], dtype=numpy.float32), 0
        return self.state, {}

    def step(self, action):
        position, velocity = (float(x) for x in self.state)
        velocity = min(max(velocity + (action - 1) * 0.001 + math.cos(3 * position) * -0.0025, -0.07), 0.07)
        position = min(max(position + velocity, -1.2), 0.6)
        velocity = 0.0 if position == -1.2 and velocity < 0 else velocity
        self.state, self.steps = numpy.array([position, velocity], dtype=numpy.float32), self.steps + 1
        terminated = position >= 0.5 and velocity >= 0
        return self.state, -1.0, terminated, self.steps >= 200 and not terminated, {}


def one_step(terminated, observation_space=Space(n=1, start=0)):
    # One state, one action, reward 1, every episode one step long and ending terminated or truncated.
    return Space(observation_space=observation_space, action_space=Space(n=1, start=0),
                 reset=lambda seed=None, options=None: (0, {}), step=lambda a: (0, 1.0, terminated, not terminated, {}))


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
    policy = (lambda o: 0) if learner == "td" else None
    agent = Agent(one_step(terminated), learner, config=tmp_path / "one.conf", policy=policy)
    agent.learner.ALPHA, agent.learner.GAMMA, agent.learner.TRACES = 1.0, 0.5, tembra.Tembra.NONE
    # One episode at a time: its curve, and the value of the one state after it.
    assert [(agent.learn(1), agent.values.weights[0]) for _ in values] == [([(1, 1.0, terminated)], v) for v in values]
