# Learners driven from Python: exceptions from hooks, and the control signals sent for real.

import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import tembra


@pytest.mark.parametrize("base", [tembra.Sarsa, tembra.Watkins])
@pytest.mark.parametrize("hook", ["setInitialState", "takeAction", "observeState", "calculateReward", "finishEpisode"])
def test_an_exception_in_a_hook_leaves_controlLoop_and_the_learner_learns_on(corridor, base, hook):
    agent = corridor(episodes=6, base=base)
    error = RuntimeError("from " + hook)

    def on_step(agent, name):  # in episode 2, from step 3 on (an episode starts at step 0)
        if name == hook and agent.episodes == 2 and (agent.steps >= 3 or name == "setInitialState"):
            raise error

    agent.on_step = on_step
    with pytest.raises(RuntimeError) as caught:
        agent.controlLoop()
    assert caught.value is error and agent.episodes == 2
    # The episode in progress is abandoned; the next loop starts a new one and runs to the end.
    agent.on_step = None
    agent.controlLoop()
    assert agent.episodes == 6 and agent.finished[-1][0] == 6
    assert all(cell == 6 for _, _, cell in agent.finished)


def wait_until_pending(signum):
    deadline = time.monotonic() + 10
    while signum not in signal.sigpending():
        assert time.monotonic() < deadline, "the signal never arrived"
        time.sleep(0.001)


def send_from_thread(signum):
    # Started in a hook, the thread inherits the mask that blocks the signal.
    thread = threading.Thread(target=os.kill, args=(os.getpid(), signum))
    thread.start()
    thread.join()


def send_from_child(signum):
    subprocess.run([sys.executable, "-c", f"import os; os.kill({os.getpid()}, {int(signum)})"], check=True)


@pytest.mark.parametrize("signum, send, notice", [
    (signal.SIGINT, send_from_thread, "SIGINT received --> stop learning (after step)"),
    (signal.SIGTERM, send_from_child, "SIGTERM received --> stop learning (after episode)"),
])
@pytest.mark.parametrize("interval", [1, 4])
def test_sigint_stops_after_the_step_and_sigterm_after_the_episode(corridor, capfd, signum, send, notice, interval):
    agent = corridor(episodes=50)
    agent.setSignalPollInterval(interval)

    def on_step(agent, name):
        if name == "takeAction" and agent.episodes == 2 and agent.steps == 3:
            send(signum)
            wait_until_pending(signum)

    agent.on_step = on_step
    agent.controlLoop()
    assert notice in capfd.readouterr().out and agent.episodes == 2
    _, steps, cell = agent.finished[-1]
    # SIGINT is polled after the step, or at the next multiple of the interval.
    assert ((agent.sigIntRcvd, steps) == (True, 3 if interval == 1 else 4) if signum == signal.SIGINT
            else (agent.sigTermRcvd, cell) == (True, 6))
    # As in C++, the loop stays stopped until the flag is cleared.
    agent.controlLoop()
    assert agent.episodes == 2
    agent.sigIntRcvd = agent.sigTermRcvd = False
    agent.on_step = None
    agent.controlLoop()
    assert agent.episodes == 50
