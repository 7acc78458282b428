bl_info = {
    "name": "TAV model format",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Export > TAV model (.tav)",
    "description": "Export game-ready TAV models",
    "category": "Import-Export",
}


def register():
    pass


def unregister():
    pass
