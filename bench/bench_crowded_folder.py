"""Saves into a crowded folder: a small model saved 50 times into a folder of
200,000 other files against 50 times into an empty folder, in one process.

A save may clear the hidden files that killed saves left in its folder; that
costs a listing of the folder, which must not be paid on every save. Prints
the median time of a save in each folder, the time of the first save into
the crowded one (which may list it) and the ratio of the medians.

Goal: the ratio is at most 1.5. Exit status 1 when it is missed.
"""

import statistics
import sys
import tempfile
import time
from pathlib import Path

import pytav

FILES = 200_000
SAVES = 50
GOAL = 1.5


def model() -> pytav.Model:
    made = pytav.Model()
    connector = pytav.Connector("grip")
    connector.setControlNode(made.getRootTransform())
    made.addConnector(connector)
    return made


def times(folder: Path) -> list:
    out = []
    saved = model()
    for _ in range(SAVES):
        start = time.perf_counter()
        message = saved.save(str(folder / "model.tav"), 20)
        out.append(time.perf_counter() - start)
        assert message == "", message
    return out


def main() -> int:
    pytav.init()
    with tempfile.TemporaryDirectory() as empty, tempfile.TemporaryDirectory() as crowded:
        for index in range(FILES):
            (Path(crowded) / f"other-{index:06d}.bin").touch()
        alone = times(Path(empty))
        among = times(Path(crowded))
    pytav.deinit()
    ratio = statistics.median(among) / statistics.median(alone)
    print(f"crowded folder: {FILES} files, median save {statistics.median(among) * 1e3:.2f} ms "
          f"(first {among[0] * 1e3:.1f} ms), empty folder {statistics.median(alone) * 1e3:.2f} ms, "
          f"ratio {ratio:.2f} (goal <= {GOAL})")
    return 0 if ratio <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
