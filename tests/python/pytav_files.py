"""Saving a pytav model and reading it back with tavtools, for the tests."""

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
