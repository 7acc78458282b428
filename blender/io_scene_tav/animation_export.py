"""Maps an object's keyframes onto animation keys and visibility keys.

Mapping rules:
- The keys are at frame numbers; the scene's frame range is the clip the
  builder maps onto the argument range.
- The object's action is sampled at every frame of the range (so every
  interpolation, easing and F-curve modifier comes out as Blender plays
  it); the module's key reduction then drops the keys a straight line
  between their neighbours reproduces.
- Location gives position keys, rotation (quaternion, any Euler order or
  axis-angle, converted to quaternions) rotation keys, scale scale keys.
  A channel without F-curves gives one key of its current value, or none
  when that value is the identity.
- Keyframed ``hide_render`` gives visibility keys: 1 where the object
  renders, 0 where it is hidden.
Drivers, NLA strips, delta transforms and bone (pose) animation are not
read; the caller reports them.
"""

from collections.abc import Callable, Iterable, Sequence
from typing import Any

import mathutils

from . import compat

# Keys of one channel: (time, vector) pairs.
Keys = list[tuple[float, tuple[float, ...]]]
# An object's F-curves by data path and array index.
Curves = dict[str, dict[int, Any]]

CHANNELS = ("location", "rotation_euler", "rotation_quaternion", "rotation_axis_angle", "scale", "hide_render")


def curves_of(obj: Any) -> Curves:
    """{data_path: {array_index: FCurve}} of the object's action, channels only."""
    found: Curves = {}
    for curve in compat.action_curves(obj):
        if curve.data_path in CHANNELS and not curve.mute:
            found.setdefault(curve.data_path, {})[curve.array_index] = curve
    return found


def _sample(curves: dict[int, Any], current: Iterable[float], frames: Sequence[float]) -> list[list[float]]:
    """Per frame, the channel's components: the F-curve where there is one,
    else the current value."""
    values = list(current)
    return [[curves[i].evaluate(f) if i in curves else values[i] for i in range(len(values))] for f in frames]


class ObjectAnimation:
    """The keys of one object: ``position``, ``rotation`` (w, x, y, z) and
    ``scale`` lists of (time, vector), each None when the channel is left
    out, and ``visibility``, a list of (time, value) or None."""

    def __init__(self, obj: Any, curves: Curves, frames: Sequence[float], times: Sequence[float]):
        self.position: Keys | None = None
        self.rotation: Keys | None = None
        self.scale: Keys | None = None
        self.visibility: list[tuple[float, float]] | None = None
        if "location" in curves:
            self.position = list(zip(times, map(tuple, _sample(curves["location"], obj.location, frames))))
        elif any(abs(v) > 1e-9 for v in obj.location):
            self.position = [(0.0, tuple(obj.location))]
        mode = obj.rotation_mode
        convert: Callable[[Sequence[float]], Any]  # a vector of the channel -> mathutils.Quaternion
        if mode == "QUATERNION":
            path, current = "rotation_quaternion", obj.rotation_quaternion
            convert = lambda v: mathutils.Quaternion(v).normalized()
        elif mode == "AXIS_ANGLE":
            path, current = "rotation_axis_angle", obj.rotation_axis_angle
            convert = lambda v: mathutils.Quaternion(v[1:], v[0])
        else:
            path, current = "rotation_euler", obj.rotation_euler
            convert = lambda v: mathutils.Euler(v, mode).to_quaternion()
        if path in curves:
            quaternions = [convert(v) for v in _sample(curves[path], current, frames)]
            for k in range(1, len(quaternions)):
                if quaternions[k].dot(quaternions[k - 1]) < 0:
                    quaternions[k].negate()
            self.rotation = [(t, tuple(q)) for t, q in zip(times, quaternions)]
        else:
            q = convert(list(current))
            if abs(abs(q.w) - 1.0) > 1e-9:
                self.rotation = [(0.0, tuple(q))]
        if "scale" in curves:
            self.scale = list(zip(times, map(tuple, _sample(curves["scale"], obj.scale, frames))))
        elif any(abs(v - 1.0) > 1e-9 for v in obj.scale):
            self.scale = [(0.0, tuple(obj.scale))]
        if "hide_render" in curves:
            curve = curves["hide_render"][0]
            self.visibility = [(t, 0.0 if curve.evaluate(f) >= 0.5 else 1.0) for f, t in zip(frames, times)]

    @property
    def moves(self) -> bool:
        return any(k is not None and len(k) > 1 for k in (self.position, self.rotation, self.scale))
