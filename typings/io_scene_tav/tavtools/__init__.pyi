# The add-on ships a copy of tavtools inside itself (tools/pack_blender_addon.py);
# for the type checker it is the package tavtools of this tree.
from tavtools import builder as builder
