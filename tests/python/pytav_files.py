"""Saving a pytav model and reading it back with tavtools, for the tests."""

import pytav
import tavtools

# The empty box of a model: minima at the largest finite 32-bit float, maxima
# at its negative (as the doubles the file stores).
FLT_MAX = 3.4028234663852886e38
EMPTY_BOX = {"min": [FLT_MAX] * 3, "max": [-FLT_MAX] * 3}


def save_and_read(model, path, version=10) -> dict:
    """Saves model to path (expecting success) and decodes the file."""
    message = model.save(str(path), version)
    assert message == "", message
    return tavtools.read(path)


def node_named(data: dict, name: str) -> dict:
    matches = [node for node in data["nodes"] if node["name"] == name]
    assert len(matches) == 1, [node["name"] for node in data["nodes"]]
    return matches[0]


def lights(data: dict) -> list:
    return data["sections"]["LIGHT_NODES"]


LIGHT_PARAMETERS = ("color", "brightness", "phi", "theta", "distance", "specularAmount", "softness")


def light_parameter(light: dict, parameter: str) -> dict:
    """The property record a light stores in the slot of parameter."""
    return light["light_properties"][LIGHT_PARAMETERS.index(parameter)]


def keep(model, node):
    """Hangs an omni light named after node off node and adds it to model.

    The save's graph passes never drop a node that something hangs from, and
    a light cannot take a transform into its own data, so a transform holding
    one keeps its matrix. This keeps a node under test in the saved file for a
    reason of its own; it does not help a plain group node, which the passes
    always fold into its parent, nor an identity transform or an animation or
    visibility node without keys or ranges, which become plain nodes first.
    Returns node, so calls chain like addChild.
    """
    light = pytav.OmniLight("on_" + node.getName())
    light.setControlNode(node)
    model.addOmniLight(light)
    return node
