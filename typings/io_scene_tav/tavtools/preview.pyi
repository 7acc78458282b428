# The add-on ships a copy of tavtools inside itself; it is tavtools.preview.
from tavtools.preview import *
