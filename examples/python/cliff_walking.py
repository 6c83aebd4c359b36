"""Cliff walking from Python with tembra.gym: Sarsa against Q-learning
(Watkins without traces) on an environment written to the Gymnasium API.

A 4 x 12 grid, start in the bottom-left corner, goal in the bottom-right
corner, the cells between them a cliff: every move costs -1, stepping into
the cliff -100 and back to the start. Both learners explore epsilon-greedily.
Sarsa, which learns the values of the policy it follows, exploration
included, learns the safe path away from the edge; Q-learning learns the
optimal path along the edge (return -13).

    python3 examples/python/cliff_walking.py [--episodes N] [--seed N] [--gymnasium]

--gymnasium takes gymnasium.make("CliffWalking-v0") (when gymnasium is
installed) instead of the environment below, which behaves the same.
Run from the source tree it finds the module in build/python; elsewhere set
PYTHONPATH to a build's python/ folder or install the library.
"""

import argparse
import pathlib
import sys

try:
    import tembra
except ImportError:
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "build" / "python"))
    import tembra
from tembra.gym import Agent

ROWS, COLUMNS = 4, 12
START, GOAL = 36, 47


class Space:
    def __init__(self, n):
        self.n, self.start = n, 0


class CliffWalking:
    """Observation row * 12 + column; actions up, right, down, left."""

    observation_space = Space(ROWS * COLUMNS)
    action_space = Space(4)
    moves = [(-1, 0), (0, 1), (1, 0), (0, -1)]

    def reset(self, seed=None, options=None):
        self.row, self.column = divmod(START, COLUMNS)
        return START, {}

    def step(self, action):
        d_row, d_column = self.moves[action]
        self.row = min(max(self.row + d_row, 0), ROWS - 1)
        self.column = min(max(self.column + d_column, 0), COLUMNS - 1)
        reward = -1.0
        if self.row == ROWS - 1 and 0 < self.column < COLUMNS - 1:
            reward = -100.0
            self.row, self.column = divmod(START, COLUMNS)
        observation = self.row * COLUMNS + self.column
        return observation, reward, observation == GOAL, False, {}


def greedy_path(agent, env):
    """The greedy policy's walk from the start: its return, the cells, whether
    it steps on the row above the cliff."""
    observation, _ = env.reset()
    total, cells = 0.0, []
    while observation != GOAL and len(cells) < 100:
        observation, reward, *_ = env.step(agent.act(observation))
        total += reward
        cells.append(observation)
    along_edge = any(cell // COLUMNS == ROWS - 2 and 0 < cell % COLUMNS < COLUMNS - 1 for cell in cells)
    return total, cells, observation == GOAL, along_edge


def picture(cells):
    rows = [["."] * COLUMNS for _ in range(ROWS)]
    for c in range(1, COLUMNS - 1):
        rows[ROWS - 1][c] = "C"
    rows[ROWS - 1][0], rows[ROWS - 1][COLUMNS - 1] = "S", "G"
    for cell in cells[:-1]:
        rows[cell // COLUMNS][cell % COLUMNS] = "*"
    return ["    " + "".join(row) for row in rows]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--episodes", type=int, default=500)
    parser.add_argument("--seed", type=int, default=3)
    parser.add_argument("--gymnasium", action="store_true")
    args = parser.parse_args()
    if args.gymnasium:
        import gymnasium

        make_env = lambda: gymnasium.make("CliffWalking-v0")
    else:
        make_env = CliffWalking

    paths = {}
    for name in ("sarsa", "watkins"):
        agent = Agent(make_env(), name, "table", config=f"cliff_walking.{name}.conf")
        agent.learner.ACTION_SELECTION = tembra.Tembra.EPSILON_GREEDY
        agent.learner.EPSILON, agent.learner.ALPHA, agent.learner.GAMMA = 0.1, 0.5, 1.0
        agent.learner.TRACES = tembra.Tembra.NONE
        curve = agent.learn(args.episodes, seed=args.seed)
        for end in range(50, len(curve) + 1, 50):
            window = curve[end - 50:end]
            print(f"{name:8s} episodes {end - 49:4d}-{end:4d}: mean sum of rewards "
                  f"{sum(e.reward for e in window) / len(window):7.1f}")
        agent.save(f"cliff_walking.{name}.q")
        paths[name] = greedy_path(agent, make_env())

    for name, label in (("sarsa", "Sarsa"), ("watkins", "Q-learning (Watkins)")):
        total, cells, reaches, along = paths[name]
        print(f"{label} greedy path: return {total:g}" + ("" if reaches else " (does not reach the goal)")
              + (", along the cliff edge" if along else ", away from the cliff edge"))
        print("\n".join(picture(cells)))
    sarsa, watkins = paths["sarsa"], paths["watkins"]
    textbook = sarsa[2] and not sarsa[3] and watkins[0] == -13.0
    print("result: " + ("Sarsa safe, Q-learning optimal (learned)" if textbook
                        else "paths differ from the textbook picture"))


if __name__ == "__main__":
    main()
