"""Mountain car from Python: the C++ demonstration (examples/mountain_car.cpp)
with its hooks written in Python.

An underpowered car in a valley must rock back and forth to climb the right
hill. Sarsa(lambda) with replacing traces learns action values on a tile
coding: one group of 8 tilings over position and velocity (8 x 8 tiles
each), 3 actions, weights starting at 0 while every step costs -1, so untried
actions look good and the greedy agent explores by itself. The program prints
each episode's steps, saves the Q file, reads it into a fresh value function
and drives the car greedily with it.

    python3 examples/python/mountain_car.py [--episodes N] [--seed N] [--config FILE] [--out FILE]

Run from the source tree it finds the module in build/python; elsewhere set
PYTHONPATH to a build's python/ folder or install the library.
"""

import argparse
import math
import os
import pathlib
import sys
import time

try:
    import tembra
except ImportError:
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "build" / "python"))
    import tembra

MIN_POSITION, MAX_POSITION, MAX_SPEED = -1.2, 0.5, 0.07
TILINGS, TILES = 8, 8


class Throttle(tembra.AbstractAction):
    def __init__(self, direction):
        super().__init__()
        self.direction = direction

    def addInformation(self):
        return "reverse" if self.direction < 0 else "forward" if self.direction > 0 else "coast"


def clamp(value, lower, upper):
    return min(max(value, lower), upper)


class Car:
    def __init__(self):
        self.position, self.velocity = -0.5, 0.0

    def reset(self):
        # The library's random source, as the C++ example draws it.
        self.position = -0.6 + 0.2 * tembra.getNextDouble()
        self.velocity = 0.0

    def push(self, direction):
        self.velocity = clamp(self.velocity + 0.001 * direction - 0.0025 * math.cos(3.0 * self.position),
                              -MAX_SPEED, MAX_SPEED)
        self.position = clamp(self.position + self.velocity, MIN_POSITION, MAX_POSITION)
        if self.position == MIN_POSITION and self.velocity < 0.0:
            self.velocity = 0.0

    def at_goal(self):
        return self.position >= MAX_POSITION


def build_value_function():
    """3 actions, then one group of 8 tilings over both variables."""
    state = tembra.State()
    position = state.registerVariable("position", MIN_POSITION, MAX_POSITION)
    velocity = state.registerVariable("velocity", -MAX_SPEED, MAX_SPEED)
    q = tembra.ActionTileCoding(state)  # takes the State over
    for direction in (-1, 0, 1):
        q.registerAction(Throttle(direction))
    q.registerTiling(tembra.ActionTilings(TILINGS, [
        (position, (MAX_POSITION - MIN_POSITION) / (TILES * TILINGS), tembra.Types.CLIP),
        (velocity, 2.0 * MAX_SPEED / (TILES * TILINGS), tembra.Types.CLIP),
    ]))
    return q


class MountainCar(tembra.Sarsa):
    def __init__(self, config, episodes, fresh_config):
        super().__init__(config)
        if fresh_config:
            self.ALPHA, self.LAMBDA, self.GAMMA = 0.5, 0.9, 1.0
            self.ACTION_SELECTION = tembra.Tembra.GREEDY
            self.TRACES = tembra.Tembra.REPLACING
            self.saveConf()
        self.avfPtr = build_value_function()  # the learner owns it from here on
        self.state = self.avfPtr.getStatePtr()
        self.car = Car()
        self.last_episode = episodes
        self.curve = []

    def setInitialState(self):
        self.car.reset()
        self.write_state()

    def takeAction(self):
        self.car.push(self.avfPtr.getActiveAction().direction)

    def observeState(self):
        self.write_state()
        return not self.car.at_goal()

    def calculateReward(self):
        return -1.0

    def finishEpisode(self):
        print(f"episode {self.episodes:4d}  steps {self.steps:5d}", flush=True)
        self.curve.append(self.steps)
        if self.episodes >= self.last_episode:
            self.continueLearning = False

    def write_state(self):
        self.state.setValueDbl(0, self.car.position)
        self.state.setValueDbl(1, self.car.velocity)


def greedy_run(q, limit=100000):
    """Drives the car greedily with a value function; the steps taken."""
    car, state, steps = Car(), q.getStatePtr(), 0
    car.reset()
    while not car.at_goal() and steps < limit:
        state.setValueDbl(0, car.position)
        state.setValueDbl(1, car.velocity)
        q.setState()
        q.setGreedyActionIndex()
        car.push(q.getActiveAction().direction)
        steps += 1
    return steps


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--episodes", type=int, default=100)
    parser.add_argument("--seed", type=int)
    parser.add_argument("--config", default="mountain_car.conf")
    parser.add_argument("--out", default="mountain_car.q")
    args = parser.parse_args()

    agent = MountainCar(args.config, args.episodes, not os.path.exists(args.config))
    if args.seed is not None:
        tembra.setSeed(args.seed)
    start = time.perf_counter()
    agent.controlLoop()
    seconds = time.perf_counter() - start
    agent.avfPtr.save(args.out)
    print(f"{sum(agent.curve)} steps in {seconds:.2f} s ({sum(agent.curve) / seconds:.0f} steps/s); "
          f"saved the learnt action values to {args.out}")
    if agent.sigTermRcvd or agent.sigIntRcvd:
        sys.exit(128 + (15 if agent.sigTermRcvd else 2))

    # A fresh value function from the file, with the actions bound again.
    reloaded = tembra.ActionTileCoding(args.out)
    for index, direction in enumerate((-1, 0, 1)):
        reloaded.setAction(index, Throttle(direction))
    greedy = [greedy_run(reloaded) for _ in range(5)]
    print("greedy runs with the reloaded value function:", *greedy, "steps")

    first, last = agent.curve[0], sum(agent.curve[-10:]) / len(agent.curve[-10:])
    learned = last < first / 3 and sum(greedy) / len(greedy) < first / 3
    print(f"result: steps per episode {first} (first) -> {last:.1f} (mean of the last 10)"
          + (" (learned)" if learned else " (NOT learned)"))


if __name__ == "__main__":
    main()
