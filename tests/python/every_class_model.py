"""A small model that touches every Python class of pytav, for the leak,
determinism and fault-injection tests (run in-process and in subprocesses).

build() fills a new Model and returns it together with a list of the
messages addRenderNode returned, in call order; everything but the glass
node (which no material accepts) is added successfully."""

import numpy as np

import pytav

QUAD = np.array([0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0], dtype=np.float32)
UP = np.array([0, 0, 1] * 4, dtype=np.float32)
INDICES = np.array([0, 1, 2, 0, 2, 3], dtype=np.uint32)
IDENTITY_ROWS = [(1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)]


def sample_fake_lights():
    """One fake omni and one two-sided fake spot light with distinct values."""
    omni_light = pytav.FakeOmniLight()
    omni_light.setPos((1, 2, 3))
    omni_light.setUV((0, 0), (0.5, 0.5))
    omni_light.setSize(0.25)
    spot_light = pytav.FakeSpotLight()
    spot_light.setPos((-1, -2, -3))
    spot_light.setUV((0.5, 0), (1, 0.5))
    spot_light.setBackUV((0, 0.5), (0.5, 1))
    spot_light.setBackSide(True)
    spot_light.setSize(0.5)
    return omni_light, spot_light


def coordinates(offset):
    return np.array([0, 0, 1, 0, 1, 1, 0, 1], dtype=np.float32) * 0.5 + np.float32(offset)


def moved(x):
    rows = [list(r) for r in IDENTITY_ROWS]
    rows[0][3] = x
    return [tuple(r) for r in rows]


def textured(block, map_setter, uv_setter, offset, file):
    getattr(block, map_setter)(file)
    getattr(block, uv_setter)(coordinates(offset))
    return block


def base_block(offset=0.0):
    block = pytav.BaseBlock()
    block.setPositions(QUAD + np.float32(offset))
    block.setNormals(UP)
    block.setAlbedoMapUV(coordinates(offset))
    block.setAlbedoMap("albedo.dds")
    block.setAlbedoMapUVShift(pytav.PropertyFloat2(7, [(0.0, (0.0, 0.0)), (1.0, (0.5, 0.25))]))
    return block


def pbr(model, parent, name, *blocks, two_sided=False):
    node = pytav.PBRNode(name, name + "_mat")
    node.setIndices(INDICES)
    for block in blocks:
        node.addBlock(block)
    node.setShadowCaster(2)
    node.setTransparentMode(1)
    node.setDecalId(3)
    node.setTwoSided(two_sided)
    node.setControlNode(parent)
    assert node.hasBlock("BT_Base") in (True, False)
    return model.addRenderNode(node)


def build(model=None, lod=True):
    """lod=False leaves out the Lod node, which the format 2.0 writer refuses."""
    model = model or pytav.Model()
    messages = []
    root = model.getRootTransform()
    model.setBBox((-20, -20, -20, 20, 20, 20))
    model.setUserBox((-1, -1, -1, 1, 1, 1))
    model.setLightBox((0, 0, 0, -1, -1, -1))

    body = root.addChild(pytav.Transform("body", moved(1.5)))
    group = body.addChild(pytav.Node("group"))
    lod = group.addChild(pytav.Lod("lod", [10.0, 50.0]) if lod else pytav.Transform("no_lod"))
    near = lod.addChild(pytav.Transform("near"))
    near.setMatrix(moved(2.0))
    far = lod.addChild(pytav.Transform("far", moved(3.0)))
    visibility = body.addChild(pytav.VisibilityNode("hatch"))
    visibility.setArguments([(4, [(-1.0, 0.0), (0.0, 1.0), (0.5, 0.0)])])
    animation = body.addChild(pytav.AnimationNode("rotor"))
    animation.setBaseMatrix(moved(0.5))
    animation.setPositionAnimation([(1, [(0.0, (0, 0, 0)), (0.5, (1, 2, 3)), (1.0, (2, 2, 2))])])
    animation.setRotationAnimation([(2, [(0.0, (1, 0, 0, 0)), (1.0, (0.7071, 0, 0.7071, 0))])])
    animation.setScaleAnimation([(3, [(0.0, (1, 1, 1)), (1.0, (2, 2, 2))])])
    bone = body.addChild(pytav.Bone("bone", moved(0.25)))
    bone.setMatrix(moved(0.75))
    bone.setInvertedBaseBoneMatrix(moved(-0.75))
    number = body.addChild(pytav.NumberRoot("counter"))
    number.setControls([(10, 0.1, -1, 0.0)])

    normal = textured(pytav.NormalBlock(), "setNormalMap", "setNormalMapUV", 0.1, "normal.dds")
    ao = textured(pytav.AoBlock(), "setAoMap", "setAoMapUV", 0.2, "ao.dds")
    ao.setAoShift(pytav.PropertyFloat2((0.1, 0.2)))
    decal = textured(pytav.DecalBlock(), "setDecalMap", "setDecalMapUV", 0.3, "decal.dds")
    decal.setDecalShift(pytav.PropertyFloat2())
    aorms = textured(pytav.AormsBlock(), "setAormsMap", "setAormsMapUV", 0.4, "aorms.dds")
    flir = pytav.FlirBlock()
    flir.setFlirMap("flir.dds")
    damage = pytav.DamageBlock()
    damage.setAlbedoMapUV(coordinates(0.5))
    damage.setNormalMapUV(coordinates(0.6))
    damage.setAlbedoMap("damage.dds")
    damage.setNormalMap("damage_normal.dds")
    damage.setMask("mask.dds")
    damage.setMaskRGBA("mask_rgba.dds")
    damage.setArgument(9)
    emissive = pytav.EmissiveBlock()
    emissive.setEmissiveMap("glow.dds")
    emissive.setEmissiveMapUV(coordinates(0.7))
    emissive.setAmount(pytav.PropertyFloat(5, [(0.0, 0.0), (0.5, 2.0), (1.0, 1.0)]))
    emissive.setColor(pytav.PropertyFloat3((1, 0.5, 0.25)))
    emissive.setEmissiveType(4)
    messages.append(pbr(model, near, "hull", base_block(), normal, ao, decal, aorms, flir, damage, emissive,
                        two_sided=True))

    skin = pytav.BoneBlock()
    skin.setBoneWeights(np.full(16, 0.25, dtype=np.float32))
    skin.setBoneIndices(np.array([0, 1, 0, 1] * 4, dtype=np.uint32))
    skin.setBones([bone])
    skin.setBoneNames(["bone"])
    assert skin.getBoneNames() == ["bone"]
    messages.append(pbr(model, body, "skin", base_block(0.9), skin))

    paint = pytav.ColorBaseBlock()
    paint.setPositions(QUAD + np.float32(4))
    paint.setNormals(UP)
    paint.setColor(pytav.PropertyFloat3(6, [(0.0, (0, 0, 0)), (1.0, (1, 1, 1))]))
    glow = pytav.EmissiveColorBlock()
    glow.setColor(pytav.PropertyFloat3((0, 1, 0)))
    glow.setAmount(pytav.PropertyFloat(2.0))
    messages.append(pbr(model, animation, "paint", paint, glow))

    for i in range(2):
        digit = base_block(2.0 * i + 6)
        messages.append(pbr(model, number, f"digit{i}", digit))

    glass = pytav.GlassBlock()
    glass.setColorMap("glass.dds")
    glass.setInstrumental(True)
    messages.append(pbr(model, body, "glass", base_block(8), glass))
    assert pytav.IBlock is not None and isinstance(glass, pytav.IBlock) and glass.getTypeName() == "BT_Glass"

    color = pytav.ColorNode("color", "color_mat")
    color.setPositions(QUAD + np.float32(10))
    color.setNormals(UP)
    color.setIndices(INDICES)
    color.setColor(0.5, 0.25, 0.125)
    color.setControlNode(visibility)
    messages.append(model.addRenderNode(color))

    mirror = pytav.MirrorNode("mirror", "mirror_mat")
    mirror.setPositions(QUAD + np.float32(12))
    mirror.setNormals(UP)
    mirror.setTextureCoordinates(coordinates(0.0))
    mirror.setIndices(INDICES.tolist())
    mirror.setTexture("mirror.dds")
    mirror.setControlNode(far)
    messages.append(model.addRenderNode(mirror))

    deck = pytav.DeckNode("deck", "deck_mat")
    deck.setPositions((QUAD + np.float32(14)).tolist())
    deck.setNormals(UP.tolist())
    deck.setTiledUV(coordinates(0.0).tolist())
    deck.setRegularUV(coordinates(0.5).tolist())
    deck.setIndices(INDICES.tolist())
    for setter in ("setBaseTiledMap", "setNormalTiledMap", "setAormsTiledMap", "setBaseMap", "setAormsMap",
                   "setDamageMap", "setDamageMask", "setDamageMaskRGBA", "setRainMask"):
        getattr(deck, setter)(setter[3:] + ".dds")
    deck.setTransparentMode(2)
    deck.setDecalId(1)
    deck.setArgument(11)
    deck.setControlNode(body)
    messages.append(model.addRenderNode(deck))

    omni_light, spot_light = sample_fake_lights()
    for cls, light in ((pytav.FakeOmniLights, omni_light), (pytav.AnimatedFakeOmniLight, omni_light),
                       (pytav.FakeSpotLights, spot_light), (pytav.AnimatedFakeSpotLight, spot_light)):
        lights = cls(cls.__name__.lower())
        lights.set([light, light])
        lights.setTexture("sprite.dds")
        lights.setMinSizeInPixels(8)
        lights.setMaxDistance(500)
        lights.setLuminance(pytav.PropertyFloat(0.75))
        lights.setShiftToCamera(0.1)
        if isinstance(lights, pytav.FakeSpotLights):
            lights.setConeSetup((1, 0.5, 0.1))
            lights.setDirection((0, 0, -1))
        if hasattr(lights, "setAnimationArg"):
            lights.setAnimationArg(12)
            lights.setLightsAnimation([(0, [(0, 0), (1, 1)]), (1, [(0, 0.5)])])
        lights.setControlNode(body)
        messages.append(model.addRenderNode(lights))

    shell = pytav.ShellNode("shell")
    shell.setPositions([0, 0, 0, 1, 0, 0, 0, 1, 0])
    shell.setIndices([0, 1, 2])
    shell.setControlNode(body)
    model.addShellNode(shell)
    segments = pytav.SegmentsNode("segments")
    segments.set([((0, 0, 0), (1, 2, 3)), ((1, 1, 1), (2, 2, 2))])
    segments.setControlNode(body)
    model.addSegmentsNode(segments)
    connector = pytav.Connector("connector")
    connector.setPropertyFloat("length", 2.5)
    connector.setPropertyString("type", "hook")
    connector.setControlNode(body)
    model.addConnector(connector)

    lamp = pytav.OmniLight("lamp")
    lamp.setColor(pytav.PropertyFloat3((1, 1, 0.5)))
    lamp.setBrightness(pytav.PropertyFloat(13, [(0.0, 1.0), (1.0, 3.0)]))
    lamp.setDistance(pytav.PropertyFloat(20))
    lamp.setSpecularAmount(pytav.PropertyFloat(0.5))
    lamp.setSoftness(pytav.PropertyFloat(0.1))
    lamp.setControlNode(body)
    model.addOmniLight(lamp)
    beam = pytav.SpotLight("beam")
    beam.setColor(pytav.PropertyFloat3((1, 1, 1)))
    beam.setBrightness(pytav.PropertyFloat(2))
    beam.setDistance(pytav.PropertyFloat(30))
    beam.setPhi(pytav.PropertyFloat(45))
    beam.setTheta(pytav.PropertyFloat(30))
    beam.setAngles(pytav.PropertyFloat(40), pytav.PropertyFloat(14, [(-1.0, 0.0), (1.0, 0.5)]))
    beam.setSpecularAmount(pytav.PropertyFloat(1))
    beam.setSoftness(pytav.PropertyFloat(0.2))
    beam.setControlNode(animation)
    model.addSpotLight(beam)

    base_render = pytav.IRenderNode()
    assert isinstance(base_render, pytav.IRenderNode)
    return model, messages


EXPECTED_MESSAGES = [""] * 5 + ["Material glass_mat doesn't support block BT_Glass."] + [""] * 7
