"""Runs a Blender script with the add-on installed from its zip into a new,
empty user-scripts folder, as an artist installs it (Add-ons > Install).

In the Blender program:
    blender -b --factory-startup --python-exit-code 1 --python tests/blender/runner.py -- ZIP SCRIPT [ARG...]
With the ``bpy`` module (the Python of a virtual environment holding it):
    python tests/blender/runner.py ZIP SCRIPT [ARG...]
``--extension`` before ZIP installs the zip as an extension instead (Blender
4.2 and later); the add-on's module is then ``bl_ext.user_default.io_scene_tav``.
The script runs as ``__main__`` with ``sys.argv`` [SCRIPT, ARG...] and its
own folder first on ``sys.path`` (so it imports its neighbours); a failure
in it (an exception, or a non-zero exit) is the runner's exit status.
"""

import os
import runpy
import sys
import tempfile

# The Blender program has imported bpy before it runs this file and passes
# it the arguments after its first "--"; the bpy module is imported below.
in_program = "bpy" in sys.modules
args = sys.argv[sys.argv.index("--") + 1:] if in_program else sys.argv[1:]
extension = args[:1] == ["--extension"]
if extension:
    args = args[1:]
if len(args) < 2:
    sys.exit(__doc__)
zip_path, script = (os.path.abspath(a) for a in args[:2])

# The bpy module reads these when it is imported; the Blender program, which
# has imported it already, reads the scripts folder when it installs.
home = tempfile.mkdtemp(prefix="tav_blender_user_")
for name in ("SCRIPTS", "CONFIG", "EXTENSIONS"):
    os.environ[f"BLENDER_USER_{name}"] = os.path.join(home, name.lower())

import bpy  # noqa: E402
import addon_utils  # noqa: E402

if extension:
    done = bpy.ops.extensions.package_install_files(filepath=zip_path, repo="user_default", enable_on_install=True)
    module = "bl_ext.user_default.io_scene_tav"
else:
    done = bpy.ops.preferences.addon_install(filepath=zip_path)
    module = "io_scene_tav"
    if done == {"FINISHED"}:
        done = bpy.ops.preferences.addon_enable(module=module)
enabled, loaded = addon_utils.check(module)
if done != {"FINISHED"} or not loaded:
    sys.exit(f"the add-on did not install from {zip_path}: {done}, loaded {loaded}")
print(f"Blender {bpy.app.version_string}, Python {sys.version.split()[0]}: {module} installed from the zip")

sys.argv = [script] + args[2:]
sys.path.insert(0, os.path.dirname(script))
if in_program:
    runpy.run_path(script, run_name="__main__")
else:
    # The bpy module can crash while the interpreter tears it down after a
    # large scene; the script's outcome is settled by then, so the process
    # ends with it rather than with the teardown.
    try:
        runpy.run_path(script, run_name="__main__")
        status = 0
    except SystemExit as done:
        status = done.code if isinstance(done.code, int) else (0 if done.code is None else 1)
        if not isinstance(done.code, (int, type(None))):
            print(done.code, file=sys.stderr)
    except BaseException:
        import traceback
        traceback.print_exc()
        status = 1
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(status)
