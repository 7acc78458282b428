"""The add-on enabled by --addons registers and its module loads."""
import io_scene_tav

assert io_scene_tav.bl_info["name"]
