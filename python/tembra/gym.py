"""Learning on environments that follow the Gymnasium API.

An Agent learns on any object with

    reset(seed=None) -> (observation, info)
    step(action) -> (observation, reward, terminated, truncated, info)
    action_space.n (and action_space.start, 0 when absent)
    observation_space: a Discrete space (n, start) or a Box (low, high, shape)

so gymnasium itself is not needed (its environments have this form):

    env = gymnasium.make("MountainCar-v0")
    agent = Agent(env, "sarsa", "tiles", config="car.conf")
    agent.learner.ALPHA, agent.learner.LAMBDA, agent.learner.GAMMA = 0.5, 0.9, 1.0
    curve = agent.learn(200, seed=0)

The State is built from the observation space: a Discrete space becomes one
integer variable, a Box one floating-point variable per entry (bounds from
low and high; give bounds= for entries whose bounds are infinite). The value
function is a lookup table for a Discrete space, a tile coding or (for TD) a
neural network for a Box, or whatever a callable builds.

Ends of episodes. terminated means the environment reached a terminal
state, which is worth 0: the learner's last update does not bootstrap, as
when observeState returns False in C++. truncated means the episode was cut
short (a time limit): the last state is not terminal, so the last update
bootstraps from it as from any other state (Sarsa from the action it would
take there, Watkins from the greedy one, TD from its value), and then the
episode ends. When both are set, terminated wins.
"""

import math
from collections import namedtuple

from . import _tembra as _t

Episode = namedtuple("Episode", "steps reward terminated")
Episode.__doc__ = "One finished episode: its steps, the sum of its rewards, and whether it ended terminated"


class GymAction(_t.AbstractAction):
    """The action with index i of the action space (the value passed to step is start + i)."""

    def __init__(self, index, value):
        super().__init__()
        self.index = index
        self.value = value

    def addInformation(self):
        return str(self.value)


def _is_discrete(space):
    return hasattr(space, "n") and not hasattr(space, "low")


def _flat(values):
    """A flat list of the numbers of an observation or a bound (array, sequence or number)."""
    if hasattr(values, "ravel"):
        return [float(x) for x in values.ravel().tolist()]
    if isinstance(values, (list, tuple)):
        out = []
        for v in values:
            out.extend(_flat(v))
        return out
    return [float(values)]


def _box_bounds(space, bounds):
    low, high = _flat(space.low), _flat(space.high)
    if len(low) != len(high):
        raise ValueError("observation_space.low and .high differ in size")
    given = list(bounds) if bounds is not None else []
    if len(given) > len(low):
        raise ValueError(f"bounds has {len(given)} entries, the observations {len(low)}")
    result = []
    for i, (lo, hi) in enumerate(zip(low, high)):
        if i < len(given) and given[i] is not None:
            lo, hi = (float(b) for b in given[i])
        if not (math.isfinite(lo) and math.isfinite(hi)) or not lo < hi:
            raise ValueError(f"observation entry {i} has bounds [{lo}, {hi}]; give finite ones with bounds=")
        result.append((lo, hi))
    return result


class Agent:
    """A learner of the library on a Gymnasium-style environment.

    learner: "sarsa", "watkins" or "td" (TD learns the state values of policy,
    a callable from an observation to an action). values: "table" (Discrete
    observations), "tiles" or "network" (Box observations; "network" with TD
    only), or a callable values(state, actions) that builds, registers the
    actions (for Sarsa and Watkins) and returns a value function on the
    State given. config: the learner's configuration file (read, or written
    with the defaults). tilings, tiles: one group of that many tilings with
    that many tiles per entry. hidden: the network's hidden neurons.

    agent.learner is the library's learner (its parameters ALPHA, GAMMA,
    ... are attributes), agent.values its value function, agent.state the
    State.
    """

    def __init__(self, env, learner="sarsa", values=None, *, config="tembra_gym.conf", bounds=None,
                 tilings=8, tiles=8, hidden=5, policy=None):
        kinds = {"sarsa": _t.Sarsa, "watkins": _t.Watkins, "td": _t.TD}
        if learner not in kinds:
            raise ValueError(f"learner must be one of {sorted(kinds)}, not {learner!r}")
        if learner == "td" and policy is None:
            raise ValueError("TD learns the values of a policy: give policy=callable(observation) -> action")
        self.env = env
        self.policy = policy
        space = env.observation_space
        self.discrete = _is_discrete(space)
        if values is None:
            values = "table" if self.discrete else "tiles"
        start = getattr(env.action_space, "start", 0)
        self.actions = [GymAction(i, int(start) + i) for i in range(int(env.action_space.n))]
        self.state = self._build_state(space, bounds)
        self.values = self._build_values(values, learner, tilings, tiles, hidden)
        self.learner = _learner_class(kinds[learner])(self, config)
        if learner == "td":
            self.learner.svfPtr = self.values
        else:
            self.learner.avfPtr = self.values
        self._curve = []
        self._last_episode = 0
        self._seed = None

    def _build_state(self, space, bounds):
        state = _t.State()
        if self.discrete:
            first = int(getattr(space, "start", 0))
            state.registerVariable("observation", first, first + int(space.n) - 1)
            self._bounds = None
        else:
            self._bounds = _box_bounds(space, bounds)
            for i, (lo, hi) in enumerate(self._bounds):
                state.registerVariable(f"observation[{i}]", lo, hi)
        return state

    def _build_values(self, values, learner, tilings, tiles, hidden):
        state_values = learner == "td"
        if callable(values):
            return values(self.state, [] if state_values else list(self.actions))
        if values == "table":
            if not self.discrete:
                raise ValueError("a table needs Discrete observations; use 'tiles' or 'network' for a Box")
            if state_values:
                return _t.StateLookupTable(self.state)
            table = _t.ActionLookupTable(self.state)
            for action in self.actions:
                table.registerAction(action)
            table.create()
            return table
        if self.discrete:
            raise ValueError(f"{values!r} needs Box observations; use 'table' for a Discrete space")
        if values == "tiles":
            coding = _t.StateTileCoding(self.state) if state_values else _t.ActionTileCoding(self.state)
            for action in [] if state_values else self.actions:
                coding.registerAction(action)
            variables = [(i, (hi - lo) / (tiles * tilings), _t.Types.CLIP) for i, (lo, hi) in enumerate(self._bounds)]
            group = _t.StateTilings if state_values else _t.ActionTilings
            coding.registerTiling(group(tilings, variables))
            return coding
        if values == "network":
            if not state_values:
                raise ValueError("the network is a state value function: use it with learner='td'")
            network = _t.NeuralNetwork(self.state, hidden)
            for i, (lo, hi) in enumerate(self._bounds):
                network.setScaleFactor(i, 1.0 / (hi - lo))
            return network
        raise ValueError(f"values must be 'table', 'tiles', 'network' or a callable, not {values!r}")

    def write(self, observation):
        """Writes an observation into the State."""
        if self.discrete:
            self.state.setValueInt(0, int(observation))
        else:
            for i, x in enumerate(_flat(observation)):
                self.state.setValueDbl(i, x)

    def learn(self, episodes, seed=None):
        """Runs episodes more episodes; the list of the Episodes that finished.

        seed seeds the environment's first reset and the library's random
        source. A SIGINT stops after the step and a SIGTERM after the
        episode, as in C++ (the learner's sigIntRcvd / sigTermRcvd are then
        set; clear them to learn on).
        """
        if seed is not None:
            _t.setSeed(seed)
        self._seed = seed
        self._curve = []
        self._last_episode = self.learner.episodes + episodes
        self.learner.continueLearning = True
        self.learner.controlLoop()
        return self._curve

    def act(self, observation):
        """The action the agent takes in a state: the greedy one (ties at
        random), or the policy's for TD."""
        if self.policy is not None:
            return self.policy(observation)
        self.write(observation)
        self.values.setState()
        self.values.setGreedyActionIndex()
        return self.actions[self.values.getActiveActionIndex()].value

    def save(self, path):
        """Saves the value function (OSError on failure)."""
        self.values.save(path)


def _learner_class(base):
    class GymLearner(base):
        def __init__(self, agent, config):
            super().__init__(config)
            self.agent = agent
            self.observation = None
            self.reward = 0.0
            self.episode_reward = 0.0
            self.terminated = self.truncated = False

        def setInitialState(self):
            agent = self.agent
            if agent._seed is not None:
                observation, _ = agent.env.reset(seed=agent._seed)
                agent._seed = None
            else:
                observation, _ = agent.env.reset()
            self.observation = observation
            self.episode_reward = 0.0
            self.terminated = self.truncated = False
            agent.write(observation)

        def takeAction(self):
            agent = self.agent
            if agent.policy is not None:
                action = agent.policy(self.observation)
            else:
                action = agent.actions[agent.values.getActiveActionIndex()].value
            self.observation, reward, self.terminated, self.truncated, _ = agent.env.step(action)
            self.reward = float(reward)
            self.episode_reward += self.reward

        def observeState(self):
            self.agent.write(self.observation)
            # A truncated episode goes on for this step's update, which then
            # bootstraps from the last state; step ends the episode after it.
            return not self.terminated

        def calculateReward(self):
            return self.reward

        def step(self):
            super().step()
            if self.truncated and not self.terminated:
                self.continueEpisode = False

        def finishEpisode(self):
            agent = self.agent
            if not self.continueEpisode:
                agent._curve.append(Episode(self.steps, self.episode_reward, bool(self.terminated)))
            if self.episodes >= agent._last_episode:
                self.continueLearning = False

    GymLearner.__name__ = GymLearner.__qualname__ = "Gym" + base.__name__
    return GymLearner
