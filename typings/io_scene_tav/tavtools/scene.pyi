# The add-on ships a copy of tavtools inside itself; it is tavtools.scene.
from tavtools.scene import *
