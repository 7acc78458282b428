# Building, saving and dropping a model that touches every class, over and
# over, frees every model object and keeps resident memory flat.

import gc
import os

import pytest

import pytav
import support

CYCLES = 1000
WARM_UP = 30
MAX_GROWTH = 5 * 1024 * 1024


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def cycle(folder, i):
    version = 10 if i % 2 == 0 else 20
    model, _ = support.build(lod=version == 10)
    assert model.save(str(folder / f"m{i % 2}.tav"), version) == ""
    del model


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_thousand_build_save_drop_cycles_free_every_object_and_keep_memory_flat(tmp_path):
    pytav.init()
    for i in range(WARM_UP):
        cycle(tmp_path, i)
    gc.collect()
    alive = pytav.get_num_alived_objects()
    resident = resident_bytes()
    for i in range(CYCLES):
        cycle(tmp_path, i)
        if i % 100 == 99:
            # A slow leak shows long before the end; failing early names the cycle.
            assert pytav.get_num_alived_objects() == alive, f"objects leaked by cycle {i}"
    gc.collect()
    assert pytav.get_num_alived_objects() == alive
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        return  # the sanitizer keeps freed blocks in quarantine; its leak check covers this run
    growth = resident_bytes() - resident
    assert growth < MAX_GROWTH, f"resident memory grew by {growth} bytes over {CYCLES} cycles"


# Objects that hold model objects on both sides of a link: each must release
# its side when dropped first, in either order.
def _render_and_model():
    model, _ = support.build()
    return [model]


def _node_in_two_models():
    first, second = pytav.Model(), pytav.Model()
    shared = pytav.Transform("shared")
    first.getRootTransform().addChild(shared)
    second.getRootTransform().addChild(shared)
    shell = pytav.ShellNode("s")
    shell.setPositions([0, 0, 0, 1, 0, 0, 0, 1, 0])
    shell.setIndices([0, 1, 2])
    shell.setControlNode(shared)
    first.addShellNode(shell)
    second.addShellNode(shell)
    return [first, second, shared, shell]


@pytest.mark.parametrize("order", ["forward", "reverse"])
@pytest.mark.parametrize("make", [_render_and_model,
                                  _node_in_two_models])
def test_objects_dropped_in_any_order_free_every_model_object(make, order):
    gc.collect()
    alive = pytav.get_num_alived_objects()
    objects = make()
    if order == "reverse":
        objects.reverse()
    while objects:
        objects.pop(0)
        gc.collect()
    assert pytav.get_num_alived_objects() == alive
