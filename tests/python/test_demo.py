import subprocess
import sys
from pathlib import Path

import tavtools

DEMO = Path(__file__).resolve().parents[2] / "examples" / "demo.py"


def test_demo_saves_a_model_with_animation_visibility_and_lights(tmp_path):
    path = tmp_path / "demo.tav"
    result = subprocess.run([sys.executable, str(DEMO), str(path)], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    data = tavtools.read(path)
    assert tavtools.summarize(data) in result.stdout
    assert {"model::ArgVisibilityNode", "model::TransformNode"} <= {node["class"] for node in data["nodes"]}
    assert [light["kind"] for light in data["sections"]["LIGHT_NODES"]] == [0, 1]
    # The rotor survives the save's graph passes because its blades hang from it.
    rotor = next(node for node in data["nodes"] if node["name"] == "rotor")
    assert rotor["class"] == "model::ArgRotationNode"
    (blades,) = data["sections"]["RENDER_NODES"]
    assert [parent["node"] for parent in blades["parents"]] == [rotor["index"]]
