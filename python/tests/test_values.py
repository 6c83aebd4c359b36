"""Value functions from Python: the weights as numpy views, and bad
arguments refused with Python's exceptions before they reach the library."""

import gc
import weakref

import numpy
import pytest

import tembra
from conftest import Step, corridor_values


def double_state(variables=2):
    state = tembra.State()
    for i in range(variables):
        state.registerVariable(f"x{i}", 0.0, 1.0)
    return state


def tile_coding(kind):
    coding = getattr(tembra, kind + "TileCoding")(double_state())
    if kind == "Action":
        coding.registerAction(Step(-1))
        coding.registerAction(Step(+1))
    coding.registerTiling(getattr(tembra, kind + "Tilings")(
        2, [(0, 0.25, tembra.Types.CLIP), tembra.Types.TILINGS_VAR_STRUCT(1, 0.25, tembra.Types.CLIP)]))
    return coding


def views():
    """(value function, the object whose weights are viewed, V or Q of the present state, active weights)"""
    state = tembra.State()
    state.registerVariable("cell", 0, 4)
    table, q = tembra.StateLookupTable(state), corridor_values()
    state_coding, action_coding = tile_coding("State"), tile_coding("Action")
    network = tembra.NeuralNetwork(double_state(), 2)
    return {"StateLookupTable": (table, table, table.getStateValue, 1),
            "ActionLookupTable": (q, q, lambda: q.getActionValue(1), 1),
            "StateTileCoding": (state_coding, state_coding.groups[0], state_coding.getStateValue, 2),
            "ActionTileCoding": (action_coding, action_coding.groups[0], lambda: action_coding.getActionValue(1), 2),
            "NeuralNetwork": (network, network, network.getStateValue, 0)}


@pytest.mark.parametrize("name", list(views()))
def test_the_weights_are_a_writable_view_without_copy(name):
    vf, holder, value, active = views()[name]
    vf.setState()
    before = value()
    if name == "NeuralNetwork":
        hidden_output = holder.weights[1]
        hidden_output[:] = 0.0
        assert value() == 0.5  # every hidden neuron weighs 0: sigmoid(0)
        vf.updateWeights(0.0, 0.0)
        assert holder.weights[1].tolist() == hidden_output.tolist()
        return
    weights = holder.weights
    assert weights.dtype == numpy.float64 and weights.flags.writeable and not weights.flags.owndata
    weights += 2.0
    # Every value is a sum of active weights (one per tiling; in a table one).
    assert value() == before + 2.0 * active
    # And the library's writes show in the view.
    vf.initWeights(lambda: 7.0)
    assert set(weights.tolist()) == {7.0}


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


def bad_arguments():
    ints = tembra.State()
    ints.registerVariable("cell", 0, 4)
    q, single, empty = corridor_values(), tembra.ActionLookupTable(tembra.State()), tembra.ActionLookupTable(tembra.State())
    single.registerAction(Step(1))
    network = tembra.NeuralNetwork(double_state(1), 1)
    return [
        (lambda: tembra.State().getValueInt(0), IndexError, "variable id 0"),
        (lambda: ints.getValueDbl(0), TypeError, "floating-point"),
        (lambda: ints.setValueInt(5, 1), IndexError, "out of range"),
        (lambda: ints.getMaxValueInt(-1), IndexError, "out of range"),
        (lambda: ints.registerVariable("y", 0.0, 1.0), TypeError, "cannot register"),
        (lambda: ints.getVariableId("nowhere"), KeyError, "nowhere"),
        (lambda: q.getActionValue(2), IndexError, "action index 2"),
        (lambda: q.getAction(-1), IndexError, "action index -1"),
        (lambda: q.registerAction(42), TypeError, "AbstractAction"),
        (lambda: q.setAction(5, Step(1)), IndexError, "action index 5"),
        (lambda: q.setActionValue(2, 1.0), IndexError, "action index 2"),
        (lambda: q.unregisterAction(Step(1)), ValueError, "not registered"),
        (lambda: single.unregisterAction(0), ValueError, "last action"),
        (lambda: empty.setGreedyActionIndex(), ValueError, "no actions"),
        (lambda: tembra.NeuralNetwork(ints, 2), TypeError, "floating-point"),
        (lambda: tembra.NeuralNetwork(double_state(), -1), ValueError, "negative"),
        (lambda: network.setScaleFactor(1, 2.0), IndexError, "variable index 1"),
        (lambda: tembra.ActionTilings(2, [(0, 0.1)]), ValueError, "id, resolution, tileType"),
        (lambda: tembra.ActionTilings(2, [(0, 0.1, "CLIP")]), TypeError, ""),
        (lambda: tembra.StateLookupTable("/nonexistent/v"), FileNotFoundError, "nonexistent"),
        (lambda: tembra.getRandomIndex(0), ValueError, "n >= 1"),
        (lambda: tembra.Sarsa("/dev/null").setSignalPollInterval(0), ValueError, ">= 1"),
        (lambda: setattr(tembra.Sarsa("/dev/null"), "TRACES", 1), TypeError, ""),
        (lambda: setattr(tembra.Sarsa("/dev/null"), "avfPtr", tembra.StateLookupTable(tembra.State())), TypeError,
         "ActionValueFunction"),
    ]


@pytest.mark.parametrize("case", range(len(bad_arguments())))
def test_bad_arguments_raise_before_the_library_sees_them(case, capfd):
    call, error, message = bad_arguments()[case]
    capfd.readouterr()
    with pytest.raises(error, match=message):
        call()
    assert "ERROR" not in capfd.readouterr().err


def test_what_the_library_refuses_is_reported_and_raised(tmp_path, capfd):
    damaged = tmp_path / "damaged.q"
    damaged.write_bytes(b"\x01\x00\x00\x00\x01\x00\x00\x00")
    with pytest.raises(OSError, match="holds no ActionLookupTable"):
        tembra.ActionLookupTable(damaged)
    with pytest.raises(OSError, match="saving /nonexistent/q failed"):
        corridor_values().save("/nonexistent/q")
    coding = tile_coding("Action")
    with pytest.raises(ValueError, match="refused"):
        coding.registerTiling(tembra.ActionTilings(2, [(7, 0.25, tembra.Types.CLIP)]))
    assert coding.getNumberOfGroups() == 1
    err = capfd.readouterr().err
    assert "ERROR: File:" in err and "Tiling refused" in err and "No such file" in err
