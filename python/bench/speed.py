"""How fast a learner runs with its hooks in Python, against the same run in C++.

    PYTHONPATH=build/python python3 python/bench/speed.py [--twin build/python/tembra_python_twin]

Two tasks, each run by python/tests/twin.py (hooks in Python) and by its C++
twin (python/tests/twin.cpp, built with the tests as tembra_python_twin):

- speed-car: the demonstration's mountain car (Sarsa(lambda), one group of
  8 tilings, greedy) over a number of episodes: steps per second.
- speed-empty: hooks that do nothing, one episode on a one-cell table: what a
  step costs. The difference between the two sides, divided by the four
  hooks of a step, is the cost of one hook call from the library into Python.

Each figure is the best of several repetitions (the least disturbed by other
work on the machine).
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))
import twin  # noqa: E402


def cpp(program, task, directory, count):
    out = subprocess.run([program, task, directory, str(count)], check=True, capture_output=True, text=True).stdout
    words = out.split()
    return int(words[words.index("steps") + 1]), float(words[words.index("seconds") + 1])


def best(run, repetitions):
    results = [run() for _ in range(repetitions)]
    return min(results, key=lambda r: r[1] / r[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--twin", default=str(HERE.parents[1] / "build" / "python" / "tembra_python_twin"))
    parser.add_argument("--episodes", type=int, default=200)
    parser.add_argument("--steps", type=int, default=1000000)
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as directory:
        devnull = os.open(os.devnull, os.O_WRONLY)
        saved = os.dup(1)
        os.dup2(devnull, 1)  # the library's notices
        try:
            car_py = best(lambda: twin.speed("speed-car", directory, args.episodes), args.repetitions)
            empty_py = best(lambda: twin.speed("speed-empty", directory, args.steps), args.repetitions)
        finally:
            os.dup2(saved, 1)
        car_cpp = best(lambda: cpp(args.twin, "speed-car", directory, args.episodes), args.repetitions)
        empty_cpp = best(lambda: cpp(args.twin, "speed-empty", directory, args.steps), args.repetitions)

    def rate(result):
        return result[0] / result[1]

    def step_us(result):
        return 1e6 * result[1] / result[0]

    print(f"mountain car, {args.episodes} episodes ({car_cpp[0]} steps)")
    print(f"  C++ hooks:    {rate(car_cpp):10.0f} steps/s  ({step_us(car_cpp):.2f} us/step)")
    print(f"  Python hooks: {rate(car_py):10.0f} steps/s  ({step_us(car_py):.2f} us/step, "
          f"{rate(car_cpp) / rate(car_py):.2f} x the C++ time)")
    print(f"empty hooks, {args.steps} steps")
    print(f"  C++ hooks:    {step_us(empty_cpp):.3f} us/step")
    print(f"  Python hooks: {step_us(empty_py):.3f} us/step")
    print(f"  one hook call into Python: {(step_us(empty_py) - step_us(empty_cpp)) / 4 * 1000:.0f} ns")


if __name__ == "__main__":
    main()
