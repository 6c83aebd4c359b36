# A seeded run from Python writes the same bytes as the same run from C++
# (tembra_python_twin, built from twin.cpp; the Python side is twin.py).

import os
import subprocess

import pytest

import tembra
import twin


@pytest.mark.parametrize("task, reader", [("cliff", tembra.ActionLookupTable), ("car", tembra.ActionTileCoding),
                                          ("walk", tembra.NeuralNetwork)])
def test_a_seeded_run_writes_the_same_file_as_in_cpp(tmp_path, task, reader):
    cpp, python = tmp_path / "cpp", tmp_path / "python"
    cpp.mkdir()
    python.mkdir()
    subprocess.run([os.environ["TEMBRA_TWIN"], task, str(cpp)], check=True, capture_output=True)
    written = twin.run(task, str(python))
    name = os.path.basename(written)
    assert (python / name).read_bytes() == (cpp / name).read_bytes()
    # Read back from Python and written again, the file stays the same.
    reader(written).save(tmp_path / name)
    assert (tmp_path / name).read_bytes() == (cpp / name).read_bytes()
