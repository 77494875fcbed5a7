#!/usr/bin/env python3
"""Writes the bundled sample robot.obj and robot.mtl into the folder of this script.

The robot is small but uses most of what the OBJ import reads: several "o" objects,
"g" groups (one line naming two groups at once), "# r" regions, materials from an MTL
library with texture, bump and alpha maps, faces of five and eight corners, texture
coordinates, normals, every face-corner form (v, v/vt, v//vn, v/vt/vn), negative
indices, smoothing statements and "l" line elements.

Run it again after changing it; the output is the same from run to run.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def num(value):
    text = "%.4f" % value
    return "0.0000" if text == "-0.0000" else text


class Obj:
    def __init__(self):
        self.lines = []
        self.v = 0
        self.vt = 0
        self.vn = 0

    def out(self, text=""):
        self.lines.append(text)

    def vertex(self, x, y, z):
        self.out("v %s %s %s" % (num(x), num(y), num(z)))
        self.v += 1
        return self.v

    def uv(self, u, v):
        self.out("vt %s %s" % (num(u), num(v)))
        self.vt += 1
        return self.vt

    def normal(self, x, y, z):
        self.out("vn %s %s %s" % (num(x), num(y), num(z)))
        self.vn += 1
        return self.vn


def box_faces(first):
    """The six quads of a box whose eight corners start at index first; corner i has
    x from bit 0, y from bit 1 and z from bit 2. Each quad runs counter-clockwise seen
    from outside, with the axis of its outward normal."""
    quads = [((1, 3, 7, 5), (1, 0, 0)), ((0, 4, 6, 2), (-1, 0, 0)),
             ((2, 6, 7, 3), (0, 1, 0)), ((0, 1, 5, 4), (0, -1, 0)),
             ((4, 5, 7, 6), (0, 0, 1)), ((0, 2, 3, 1), (0, 0, -1))]
    return [([first + c for c in corners], axis) for corners, axis in quads]


def box(obj, centre, half):
    first = obj.v + 1
    for i in range(8):
        obj.vertex(centre[0] + (half[0] if i & 1 else -half[0]),
                   centre[1] + (half[1] if i & 2 else -half[1]),
                   centre[2] + (half[2] if i & 4 else -half[2]))
    return box_faces(first)


def main():
    obj = Obj()
    obj.out("# Kelvane sample: a small robot, written by make_robot.py")
    obj.out("# Units are metres; +Y is up and the robot faces +Z.")
    obj.out("mtllib robot.mtl")
    obj.out()

    # Shared texture corners and the six axis normals.
    obj.out("# texture corners of every quad")
    quad_uv = [obj.uv(0, 0), obj.uv(1, 0), obj.uv(1, 1), obj.uv(0, 1)]
    obj.out("# the six axis normals")
    axis_normal = {}
    for axis in [(1, 0, 0), (-1, 0, 0), (0, 1, 0), (0, -1, 0), (0, 0, 1), (0, 0, -1)]:
        axis_normal[axis] = obj.normal(*axis)
    obj.out()

    # --- body: a box, every corner v/vt/vn, with a pentagonal chest plate ---------------
    obj.out("o body")
    body = box(obj, (0, 1.25, 0), (0.4, 0.45, 0.25))
    obj.out("g torso")
    obj.out("# r upper")
    obj.out("usemtl paint")
    obj.out("s 1")
    for corners, axis in body:
        n = axis_normal[axis]
        obj.out("f " + " ".join("%d/%d/%d" % (c, t, n) for c, t in zip(corners, quad_uv)))
    obj.out("# the chest plate: one face of five corners, positions only")
    plate = [obj.vertex(0.2 * math.cos(math.radians(90 + 72 * k)),
                        1.35 + 0.2 * math.sin(math.radians(90 + 72 * k)), 0.26) for k in range(5)]
    obj.out("usemtl chest plate")
    obj.out("s off")
    obj.out("f " + " ".join(str(c) for c in plate))
    obj.out()

    # --- head: an octagonal prism, eight-corner caps, corners v//vn ----------------------
    obj.out("o head")
    sides = 8
    radius, bottom, top = 0.25, 1.75, 2.15
    ring_bottom = [obj.vertex(radius * math.cos(2 * math.pi * k / sides), bottom,
                              radius * math.sin(2 * math.pi * k / sides)) for k in range(sides)]
    ring_top = [obj.vertex(radius * math.cos(2 * math.pi * k / sides), top,
                           radius * math.sin(2 * math.pi * k / sides)) for k in range(sides)]
    side_normal = [obj.normal(math.cos(2 * math.pi * (k + 0.5) / sides), 0,
                              math.sin(2 * math.pi * (k + 0.5) / sides)) for k in range(sides)]
    obj.out("g head")
    obj.out("usemtl glass")
    obj.out("s 2")
    for k in range(sides):
        k1 = (k + 1) % sides
        n = side_normal[k]
        obj.out("f %d//%d %d//%d %d//%d %d//%d" % (ring_bottom[k1], n, ring_bottom[k], n, ring_top[k], n,
                                                   ring_top[k1], n))
    up, down = axis_normal[(0, 1, 0)], axis_normal[(0, -1, 0)]
    obj.out("f " + " ".join("%d//%d" % (c, up) for c in reversed(ring_top)))
    obj.out("f " + " ".join("%d//%d" % (c, down) for c in ring_bottom))
    obj.out()

    # --- arms: boxes in two groups at once, corners v/vt --------------------------------
    for name, x in (("left", 0.55), ("right", -0.55)):
        obj.out("o arm_" + name)
        arm = box(obj, (x, 1.2, 0), (0.12, 0.4, 0.12))
        obj.out("g arm " + name)
        obj.out("usemtl metal")
        obj.out("s 3")
        for corners, _ in arm:
            obj.out("f " + " ".join("%d/%d" % (c, t) for c, t in zip(corners, quad_uv)))
        obj.out()

    # --- legs: two boxes in the lower region, the feet in rubber -------------------------
    obj.out("o legs")
    obj.out("g legs")
    obj.out("# r lower")
    for x in (0.2, -0.2):
        leg = box(obj, (x, 0.45, 0), (0.13, 0.35, 0.13))
        obj.out("usemtl metal")
        for corners, axis in leg:
            n = axis_normal[axis]
            obj.out("f " + " ".join("%d/%d/%d" % (c, t, n) for c, t in zip(corners, quad_uv)))
        foot = box(obj, (x, 0.05, 0.06), (0.16, 0.05, 0.22))
        obj.out("usemtl rubber")
        # Negative indices count back from the last vertex written.
        last = obj.v
        for corners, axis in foot:
            n = axis_normal[axis]
            obj.out("f " + " ".join("%d/%d/%d" % (c - last - 1, t, n) for c, t in zip(corners, quad_uv)))
    obj.out()

    # --- antennas: line elements, one of them through three points -----------------------
    obj.out("o antenna")
    obj.out("g head")
    obj.out("# r upper")
    obj.out("usemtl metal")
    left = [obj.vertex(0.1, top, 0), obj.vertex(0.15, top + 0.2, 0), obj.vertex(0.25, top + 0.3, 0)]
    obj.out("l " + " ".join(str(c) for c in left))
    obj.vertex(-0.1, top, 0)
    obj.vertex(-0.2, top + 0.25, 0)
    obj.out("l -2 -1")
    obj.out()
    obj.out("# end of robot")

    mtl = [
        "# Kelvane sample: the robot's materials, written by make_robot.py",
        "",
        "newmtl paint",
        "Ka 0.05 0.05 0.05",
        "Kd 0.80 0.35 0.10",
        "Ks 0.30 0.30 0.30",
        "Ns 40",
        "d 1",
        "illum 2",
        "",
        "newmtl chest_plate",
        "Kd 0.90 0.90 0.20",
        "Ks 0.60 0.60 0.60",
        "Ns 80",
        "illum 2",
        "",
        "newmtl glass",
        "Kd 0.20 0.50 0.90",
        "Ks 0.90 0.90 0.90",
        "Tf 0.80 0.90 1.00",
        "Ns 100",
        "Ni 1.45",
        "d 0.40",
        "map_d textures/visor_alpha.png",
        "illum 4",
        "",
        "newmtl metal",
        "Kd 0.60 0.62 0.65",
        "Ks 0.80 0.80 0.80",
        "Ns 60",
        "map_Kd textures/brushed_metal.png",
        "bump textures/brushed_metal_bump.png",
        "illum 2",
        "",
        "newmtl rubber",
        "Kd 0.08 0.08 0.08",
        "Ks 0.05 0.05 0.05",
        "Ns 5",
        "map_Kd textures/tread.png",
        "illum 2",
        "",
    ]

    with open(os.path.join(HERE, "robot.obj"), "w", newline="\n") as f:
        f.write("\n".join(obj.lines) + "\n")
    with open(os.path.join(HERE, "robot.mtl"), "w", newline="\n") as f:
        f.write("\n".join(mtl))


if __name__ == "__main__":
    main()
