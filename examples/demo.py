"""Main job: builds a small model, saves it as a format 10 file and prints
what the file holds.

Usage: python examples/demo.py [path]   (default: ./demo.tav)
"""

import math
import sys

import numpy as np

import pytav
import tavtools

ROTOR_ARGUMENT = 1
BEACON_ARGUMENT = 2


def translation(x: float, y: float, z: float) -> list:
    return [(1, 0, 0, x), (0, 1, 0, y), (0, 0, 1, z), (0, 0, 0, 1)]


def turn_about_z(degrees: float) -> tuple:
    half = math.radians(degrees) / 2
    return (math.cos(half), 0.0, 0.0, math.sin(half))


def rotor_blades(rotor: pytav.Node) -> pytav.PBRNode:
    """Two grey blades crossing at the hub, drawn from both sides."""
    positions = np.array([
        -2.0, -0.1, 0.0, 2.0, -0.1, 0.0, 2.0, 0.1, 0.0, -2.0, 0.1, 0.0,
        -0.1, -2.0, 0.0, 0.1, -2.0, 0.0, 0.1, 2.0, 0.0, -0.1, 2.0, 0.0,
    ], dtype=np.float32)
    paint = pytav.ColorBaseBlock()
    paint.setPositions(positions)
    paint.setNormals(np.array([0.0, 0.0, 1.0] * 8, dtype=np.float32))
    paint.setColor(pytav.PropertyFloat3((0.3, 0.3, 0.32)))
    blades = pytav.PBRNode("blades", "rotor_paint")
    blades.addBlock(paint)
    blades.setIndices(np.array([0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7], dtype=np.uint32))
    blades.setTwoSided(True)
    blades.setControlNode(rotor)
    return blades


def build() -> pytav.Model:
    model = pytav.Model()
    body = model.getRootTransform().addChild(pytav.Transform("body", translation(0, 0, 1.5)))

    # A rotor turning once around while its argument runs from 0 to 1.
    rotor = body.addChild(pytav.AnimationNode("rotor"))
    rotor.setBaseMatrix(translation(0, 0, 2))
    rotor.setRotationAnimation([
        (ROTOR_ARGUMENT, [(t / 4, turn_about_z(90 * t)) for t in range(5)]),
    ])
    # The blades turn with the rotor; an animation node with nothing to move
    # would be dropped when the model is saved.
    message = model.addRenderNode(rotor_blades(rotor))
    if message:
        raise RuntimeError(message)

    # A beacon on a mast, switched on by its own argument, blinking red.
    mast = body.addChild(pytav.Transform("mast", translation(0, -1, 3)))
    beacon = mast.addChild(pytav.VisibilityNode("beacon_switch"))
    beacon.setArguments([(BEACON_ARGUMENT, [(0.0, 0.0), (0.5, 1.0)])])
    lamp = pytav.OmniLight("beacon")
    lamp.setControlNode(beacon)
    lamp.setColor(pytav.PropertyFloat3((1.0, 0.1, 0.1)))
    lamp.setBrightness(pytav.PropertyFloat(BEACON_ARGUMENT, [(0.0, 0.0), (0.75, 4.0), (1.0, 0.0)]))
    lamp.setDistance(pytav.PropertyFloat(12.0))
    model.addOmniLight(lamp)

    # A headlight with a 40 degree cone whose inner quarter is at full power.
    headlight = pytav.SpotLight("headlight")
    headlight.setControlNode(body)
    headlight.setColor(pytav.PropertyFloat3((1.0, 0.95, 0.8)))
    headlight.setBrightness(pytav.PropertyFloat(8.0))
    headlight.setDistance(pytav.PropertyFloat(30.0))
    headlight.setAngles(pytav.PropertyFloat(40.0), pytav.PropertyFloat(0.25))
    model.addSpotLight(headlight)

    model.setBBox((-2, -2, 0, 2, 2, 5))
    return model


def main(argv: list) -> int:
    path = argv[1] if len(argv) > 1 else "demo.tav"
    pytav.init()
    try:
        message = build().save(path, 10)
    finally:
        pytav.deinit()
    if message:
        print(f"save failed: {message}", file=sys.stderr)
        return 1
    print(f"pytav {pytav.get_version()}: saved {path}")
    print(tavtools.summarize(tavtools.read(path)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
