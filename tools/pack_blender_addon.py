"""Lays out the Blender add-on folder and packs it as the installable zip.

usage: pack_blender_addon.py MODULE_BUILD_DIR ADDONS_DIR ZIP_PATH

The folder ADDONS_DIR/io_scene_tav holds the add-on's sources, the pytav
module built in MODULE_BUILD_DIR for Blender's interpreter, and a copy of
tavtools, so that the add-on imports nothing from outside itself. The zip
holds the same folder; its entries are sorted and dated 1980-01-01 so that
the same sources always give the same zip.
"""

import shutil
import sys
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
NAME = "io_scene_tav"


def _sources(folder: Path) -> list[Path]:
    return sorted(p for p in folder.rglob("*") if p.is_file() and "__pycache__" not in p.parts)


def main(build_dir: str, addons_dir: str, zip_path: str) -> int:
    modules = sorted(Path(build_dir).glob("pytav.cpython-*.so"))
    if len(modules) != 1:
        print(f"expected one pytav module in {build_dir}, found {len(modules)}", file=sys.stderr)
        return 1
    target = Path(addons_dir) / NAME
    # A fresh copy each time, so that a source removed from the repository
    # does not live on in the add-on.
    staging = target.with_name(NAME + ".new")
    shutil.rmtree(staging, ignore_errors=True)
    for source in _sources(REPO / "blender" / NAME):
        dest = staging / source.relative_to(REPO / "blender" / NAME)
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, dest)
    for source in _sources(REPO / "tavtools"):
        dest = staging / "tavtools" / source.relative_to(REPO / "tavtools")
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, dest)
    shutil.copy2(modules[0], staging / modules[0].name)
    shutil.rmtree(target, ignore_errors=True)
    staging.rename(target)

    zip_file = Path(zip_path)
    partial = zip_file.with_suffix(".zip.part")
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for path in _sources(target):
            info = zipfile.ZipInfo(str(path.relative_to(target.parent)), date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if path.suffix == ".so" else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, path.read_bytes())
    partial.replace(zip_file)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        sys.exit(1)
    sys.exit(main(*sys.argv[1:]))
