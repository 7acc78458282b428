"""Which actions an object plays, and on which argument and argument range.

An object plays its active action and the action of every strip of its
unmuted NLA tracks (muted strips are left out). Each action drives an
argument of its own: the action's ``tav_argument`` (TAV tab of the action,
or custom property), else the object's. The scene's frame range maps onto
the action's argument range, ``tav_argument_range`` ((0, 1) by default;
(-1, 1) for a control surface that moves both ways).

Each action is read on its own, in its own frames: since its argument plays
it alone in the model, where its strip sits on the NLA timeline (start,
scale, repeat) and how it blends there do not matter. An action listed
twice plays once. Two actions of one object on one argument cannot both
play: the second is reported and left out. An argument range that cannot be
used is reported and the action plays on (0, 1).
"""

from collections.abc import Callable, Collection
from dataclasses import dataclass
from typing import Any

from . import compat, settings
from .tavtools.scene import Clip


@dataclass
class PlayedAction:
    action: Any                 # bpy.types.Action
    curves: list[Any]           # its F-curves that animate the object
    argument: int
    span: tuple[float, float]   # argument values at the start and at the end frame

    def clip(self, frames: tuple[int, int]) -> Clip:
        """The clip that plays the scene's frame range [start, end] on this action's argument."""
        return Clip(self.argument, float(frames[0]), float(frames[1]), self.span[0], self.span[1])


def _candidates(owner: Any) -> list[tuple[Any, Any]]:
    """(action, slot) pairs the owner plays: the active action first, then the NLA strips track by track."""
    data = getattr(owner, "animation_data", None)
    if data is None:
        return []
    found: list[tuple[Any, Any]] = []
    if data.action is not None:
        found.append((data.action, getattr(data, "action_slot", None)))
    for track in data.nla_tracks:
        if track.mute:
            continue
        for strip in track.strips:
            if not strip.mute and strip.action is not None:
                found.append((strip.action, getattr(strip, "action_slot", None)))
    return found


def action_span(action: Any, lose: Callable[[str, str], None]) -> tuple[float, float]:
    """The argument values at the start and the end frame that ``action``
    (None: no action) plays on; a range that cannot be used is reported
    through ``lose`` and the default taken."""
    span = settings.DEFAULT_RANGE
    if action is not None:
        try:
            span = settings.action_argument_range(action)
        except settings.SettingError as error:
            where, _, text = str(error).partition(": ")
            lose(where, f"{text}; played on {settings.DEFAULT_RANGE}")
    return float(span[0]), float(span[1])


def keys(owner: Any, path: str) -> bool:
    """Whether an action ``owner`` plays keys ``path`` (an unmuted F-curve)."""
    return any(c.data_path == path and not c.mute
               for action, slot in _candidates(owner) for c in compat.action_fcurves(action, slot))


def strips_left_out(owner: Any, what: str, paths: Collection[str] | None = None) -> str:
    """The report for a reader of ``owner``'s active action alone: the
    actions of its unmuted NLA strips, the active one aside, that key any of
    ``paths`` (anything when None) and so are left out, named after
    ``what`` they key; "" when there are none."""
    data = getattr(owner, "animation_data", None)
    active = data.action if data is not None else None
    names = sorted({action.name for action, slot in _candidates(owner) if action != active and
                    any(paths is None or c.data_path in paths for c in compat.action_fcurves(action, slot))})
    if not names:
        return ""
    return f"{what} in NLA strips ({', '.join(names)}) are not exported; only the active action plays"


def played_actions(owner: Any, lose: Callable[[str, str], None]) -> list[PlayedAction]:
    """The actions ``owner`` plays, each with its curves, argument and span.
    Raises ``settings.SettingError`` for an argument that cannot be used."""
    played: list[PlayedAction] = []
    by_argument: dict[int, PlayedAction] = {}
    for action, slot in _candidates(owner):
        if any(p.action == action for p in played):
            continue
        curves = compat.action_fcurves(action, slot)
        if not curves:
            continue
        argument = settings.animation_argument(owner, action)
        span = action_span(action, lose)
        taken = by_argument.get(argument)
        if taken is not None:
            lose(owner.name, f"actions {taken.action.name} and {action.name} both drive argument {argument}; "
                             f"{action.name} is left out")
            continue
        by_argument[argument] = made = PlayedAction(action, curves, argument, span)
        played.append(made)
    return played
