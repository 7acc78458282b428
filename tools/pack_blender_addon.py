"""Lays out the Blender add-on folder and packs it as the installable zip.

usage: pack_blender_addon.py MODULE_BUILD_DIR... ADDONS_DIR ZIP_PATH

The folder ADDONS_DIR/io_scene_tav holds the add-on's sources (its
blender_manifest.toml among them), the pytav module built in each
MODULE_BUILD_DIR, one per interpreter that Blender versions embed (Python
picks the one whose file name carries its own version), and a copy of
tavtools, so that the add-on imports nothing from outside itself. The zip
holds the same folder, which both Blender's add-on install and (4.2 and
later) its extension install take; its entries are sorted and dated
1980-01-01 so that the same sources always give the same zip.
"""

import shutil
import sys
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
NAME = "io_scene_tav"


def _sources(folder: Path) -> list[Path]:
    return sorted(p for p in folder.rglob("*") if p.is_file() and "__pycache__" not in p.parts)


def main(*args: str) -> int:
    *build_dirs, addons_dir, zip_path = args
    modules = []
    for build_dir in build_dirs:
        found = sorted(Path(build_dir).glob("pytav.cpython-*.so"))
        if len(found) != 1:
            print(f"expected one pytav module in {build_dir}, found {len(found)}", file=sys.stderr)
            return 1
        modules += found
    if len({m.name for m in modules}) != len(modules):
        print(f"two module builds for one interpreter: {', '.join(build_dirs)}", file=sys.stderr)
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
    for module in modules:
        shutil.copy2(module, staging / module.name)
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
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        sys.exit(1)
    sys.exit(main(*sys.argv[1:]))
