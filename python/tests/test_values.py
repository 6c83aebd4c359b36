# Value functions from Python: the weights as numpy views, and bad arguments refused with Python's exceptions.

import gc
import weakref

import numpy
import pytest

import tembra
from conftest import Step, corridor_values


def new_state(*bounds):
    state = tembra.State()
    for i, (low, high) in enumerate(bounds):
        state.registerVariable(f"x{i}", low, high)
    return state


def tile_coding(kind):
    coding = getattr(tembra, kind + "TileCoding")(new_state((0.0, 1.0), (0.0, 1.0)))
    for direction in (-1, 1) if kind == "Action" else ():
        coding.registerAction(Step(direction))
    coding.registerTiling(getattr(tembra, kind + "Tilings")(
        2, [(0, 0.25, tembra.Types.CLIP), tembra.Types.TILINGS_VAR_STRUCT(1, 0.25, tembra.Types.CLIP)]))
    return coding


def views():
    # value function, the object whose weights are viewed, V or Q of the present state, active weights per value
    table, q = tembra.StateLookupTable(new_state((0, 4))), corridor_values()
    network = tembra.NeuralNetwork(new_state((0.0, 1.0), (0.0, 1.0)), 2)
    state_coding, action_coding = tile_coding("State"), tile_coding("Action")
    return {"StateLookupTable": (table, table, table.getStateValue, 1),
            "ActionLookupTable": (q, q, lambda: q.getActionValue(1), 1),
            "StateTileCoding": (state_coding, state_coding.groups[0], state_coding.getStateValue, 2),
            "ActionTileCoding": (action_coding, action_coding.groups[0], lambda: action_coding.getActionValue(1), 2),
            "NeuralNetwork": (network, network, network.getStateValue, 0)}


@pytest.mark.parametrize("name", list(views()))
def test_the_weights_are_a_writable_view_without_copy_both_ways(name):
    vf, holder, value, active = views()[name]
    vf.setState()
    before = value()
    weights = holder.weights[1] if name == "NeuralNetwork" else holder.weights  # the hidden-output weights
    assert weights.dtype == numpy.float64 and weights.flags.writeable and not weights.flags.owndata
    weights += 2.0
    # Every value is a sum of active weights (one per tiling; in a table one); every hidden neuron at 2 + its weight.
    assert value() == before + 2.0 * active if active else value() > before
    # And the library's writes show in the view.
    vf.initWeights(lambda: 7.0)
    assert numpy.unique(weights).tolist() == [7.0]


def test_a_view_keeps_its_value_function_alive_and_blocks_replacing_its_array(tmp_path):
    q = corridor_values()
    q.save(tmp_path / "q")
    alive = weakref.ref(q)
    view = q.weights[2:]
    del q
    gc.collect()
    view[:] = 1.5
    q = alive()
    assert q.getMaxWeight() == 1.5
    for operation in (q.create, lambda: q.load(tmp_path / "q"), lambda: q.unregisterAction(0)):
        with pytest.raises(BufferError, match="numpy view"):
            operation()
    del view
    q.load(tmp_path / "q")
    assert q.getMaxWeight() == 0.0
    del q
    gc.collect()
    assert alive() is None


def bad_arguments(damaged=None):
    # (call, exception, message, whether the library reported it: refused before it saw the call, or after)
    ints = new_state((0, 4))
    q, single, empty = corridor_values(), tembra.ActionLookupTable(new_state()), tembra.ActionLookupTable(new_state())
    single.registerAction(Step(1))
    network, coding = tembra.NeuralNetwork(new_state((0.0, 1.0)), 1), tile_coding("Action")
    return [
        (lambda: tembra.State().getValueInt(0), IndexError, "variable id 0", False),
        (lambda: ints.getValueDbl(0), TypeError, "floating-point", False),
        (lambda: ints.setValueInt(5, 1), IndexError, "out of range", False),
        (lambda: ints.registerVariable("y", 0.0, 1.0), TypeError, "cannot register", False),
        (lambda: ints.getVariableId("nowhere"), KeyError, "nowhere", False),
        (lambda: q.getActionValue(2), IndexError, "action index 2", False),
        (lambda: q.registerAction(42), TypeError, "AbstractAction", False),
        (lambda: q.setAction(5, Step(1)), IndexError, "action index 5", False),
        (lambda: q.unregisterAction(Step(1)), ValueError, "not registered", False),
        (lambda: single.unregisterAction(0), ValueError, "last action", False),
        (lambda: empty.setGreedyActionIndex(), ValueError, "no actions", False),
        (lambda: tembra.NeuralNetwork(ints, 2), TypeError, "floating-point", False),
        (lambda: tembra.NeuralNetwork(new_state((0.0, 1.0), (0.0, 1.0)), -1), ValueError, "negative", False),
        (lambda: network.setScaleFactor(1, 2.0), IndexError, "variable index 1", False),
        (lambda: tembra.ActionTilings(2, [(0, 0.1)]), ValueError, "id, resolution, tileType", False),
        (lambda: tembra.StateLookupTable("/nonexistent/v"), FileNotFoundError, "nonexistent", False),
        (lambda: tembra.getRandomIndex(0), ValueError, "n >= 1", False),
        (lambda: tembra.Sarsa("/dev/null").setSignalPollInterval(0), ValueError, ">= 1", False),
        (lambda: setattr(tembra.Sarsa("/dev/null"), "avfPtr", tembra.StateLookupTable(tembra.State())), TypeError,
         "ActionValueFunction", False),
        (lambda: tembra.ActionLookupTable(damaged), OSError, "holds no ActionLookupTable", True),
        (lambda: q.save("/nonexistent/q"), OSError, "saving /nonexistent/q failed", True),
        (lambda: coding.registerTiling(tembra.ActionTilings(2, [(7, 0.25, tembra.Types.CLIP)])), ValueError,
         "refused", True),
    ]


@pytest.mark.parametrize("case", range(len(bad_arguments())))
def test_bad_arguments_and_what_the_library_refuses_raise(tmp_path, case, capfd):
    (tmp_path / "damaged.q").write_bytes(b"\x01\x00\x00\x00\x01\x00\x00\x00")
    call, error, message, reported = bad_arguments(tmp_path / "damaged.q")[case]
    capfd.readouterr()
    with pytest.raises(error, match=message):
        call()
    assert ("ERROR: File:" in capfd.readouterr().err) == reported
