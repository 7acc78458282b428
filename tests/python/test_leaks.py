# Building, saving and dropping a model that touches every class, over and
# over, frees every model object and keeps resident memory flat; dropping
# objects in any order is left to the API sequences of test_fuzz_api.

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


