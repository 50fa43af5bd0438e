#!/usr/bin/python3
"""Writes sample location files for the demo's FTP server.

Usage: make_locations.py OUT_DIR

Each line is "lat,lon,type,speed,heading,description" along real UK road corridors, CR LF
ended as on the vendor's server. The same files come out every time (fixed seed):
  LocationsLite.txt   cameras                      (2,500 lines)
  LocationsFull.txt   cameras and schools          (6,000 lines)
  TestLocations.txt   a short test set             (120 lines)
  StoredLocations.txt what the simulated unit's driver stored (sent back on "Upload Y")
"""

import math
import os
import random
import sys

# Road corridors as (name, kind, [(lat, lon), ...]) through the towns they join.
ROADS = [
    ("M1", "motorway", [(51.575, -0.246), (51.879, -0.417), (52.238, -0.900), (52.634, -1.143),
                        (53.000, -1.300), (53.381, -1.470), (53.745, -1.520)]),
    ("M6", "motorway", [(52.440, -1.480), (52.486, -1.890), (52.800, -2.120), (53.390, -2.590),
                        (53.760, -2.700), (54.047, -2.800), (54.890, -2.930)]),
    ("M4", "motorway", [(51.490, -0.310), (51.455, -0.970), (51.560, -1.780), (51.540, -2.560),
                        (51.590, -3.000), (51.480, -3.180), (51.620, -3.940)]),
    ("M5", "motorway", [(52.480, -2.030), (52.190, -2.220), (51.860, -2.240), (51.540, -2.560),
                        (51.020, -3.100), (50.730, -3.480)]),
    ("M62", "motorway", [(53.410, -2.980), (53.480, -2.240), (53.650, -1.780), (53.745, -1.520),
                         (53.720, -0.900), (53.745, -0.330)]),
    ("M8", "motorway", [(55.860, -4.250), (55.870, -3.950), (55.900, -3.600), (55.950, -3.190)]),
    ("A1", "trunk", [(52.570, -0.240), (52.910, -0.640), (53.520, -1.130), (54.520, -1.560),
                     (54.970, -1.610), (55.420, -1.710), (55.770, -2.000)]),
    ("A303", "trunk", [(51.210, -1.480), (51.180, -1.830), (51.090, -2.200), (50.980, -2.650),
                       (50.910, -3.100)]),
    ("A9", "trunk", [(56.120, -3.940), (56.400, -3.440), (56.700, -3.730), (57.190, -3.830),
                     (57.480, -4.220)]),
    ("A55", "trunk", [(53.190, -2.890), (53.250, -3.440), (53.280, -3.830), (53.230, -4.130)]),
    ("A38", "urban", [(52.480, -1.900), (52.590, -1.830), (52.800, -1.640), (52.920, -1.480)]),
    ("A6", "urban", [(53.480, -2.240), (53.420, -2.160), (53.250, -1.910), (52.920, -1.480)]),
]

CAMERA_TYPES = {
    "motorway": [("SPECS", (50, 60, 70)), ("GATSO", (50, 70)), ("MOBILE", (50, 70))],
    "trunk": [("GATSO", (40, 50, 60, 70)), ("SPECS", (50, 60)), ("REDLIGHT", (30, 40)),
              ("MOBILE", (40, 50, 60))],
    "urban": [("GATSO", (30, 40)), ("REDLIGHT", (30,)), ("TRUVELO", (30, 40)),
              ("MOBILE", (30, 40))],
}
SCHOOL_NAMES = ["Primary School", "Academy", "High School", "Infant School", "C of E School",
                "Junior School"]


def bearing(a, b):
    lat1, lat2 = math.radians(a[0]), math.radians(b[0])
    dlon = math.radians(b[1] - a[1])
    y = math.sin(dlon) * math.cos(lat2)
    x = math.cos(lat1) * math.sin(lat2) - math.sin(lat1) * math.cos(lat2) * math.cos(dlon)
    return int(round(math.degrees(math.atan2(y, x)))) % 360


def point_on(rng, road):
    name, kind, points = road
    i = rng.randrange(len(points) - 1)
    a, b = points[i], points[i + 1]
    t = rng.random()
    lat = a[0] + (b[0] - a[0]) * t + rng.uniform(-0.004, 0.004)
    lon = a[1] + (b[1] - a[1]) * t + rng.uniform(-0.006, 0.006)
    heading = bearing(a, b)
    if rng.random() < 0.5:
        heading = (heading + 180) % 360
    return name, kind, lat, lon, heading


def direction(heading):
    return ["northbound", "eastbound", "southbound", "westbound"][((heading + 45) % 360) // 90]


def camera_line(rng, n):
    name, kind, lat, lon, heading = point_on(rng, rng.choice(ROADS))
    kind_name, speeds = rng.choice(CAMERA_TYPES[kind])
    where = ("J%d" % rng.randint(1, 45)) if kind == "motorway" else "km %d" % rng.randint(1, 180)
    return "%.5f,%.5f,%s,%d,%03d,%s %s %s #%d" % (
        lat, lon, kind_name, rng.choice(speeds), heading, name, where, direction(heading), n)


def school_line(rng, n):
    name, _kind, lat, lon, heading = point_on(rng, rng.choice(ROADS))
    return "%.5f,%.5f,SCHOOL,20,%03d,%s near %s #%d" % (
        lat + rng.uniform(-0.01, 0.01), lon + rng.uniform(-0.01, 0.01), heading,
        rng.choice(SCHOOL_NAMES), name, n)


def write(path, lines):
    with open(path, "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("ascii"))


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(9)
    cameras = [camera_line(rng, n) for n in range(1, 2501)]
    write(os.path.join(out, "LocationsLite.txt"), cameras)
    more = [camera_line(rng, n) for n in range(2501, 4501)]
    schools = [school_line(rng, n) for n in range(1, 1501)]
    write(os.path.join(out, "LocationsFull.txt"), cameras + more + schools)
    write(os.path.join(out, "TestLocations.txt"), [camera_line(rng, n) for n in range(1, 121)])
    stored = ["%.5f,%.5f,%d,USER" % (lat, lon, speed) for lat, lon, speed in
              [(51.50722, -0.12750, 30), (52.48622, -1.89040, 40), (53.48076, -2.24263, 50),
               (55.95325, -3.18827, 30), (51.45451, -2.58791, 20)]]
    write(os.path.join(out, "StoredLocations.txt"), stored)
    return 0


if __name__ == "__main__":
    sys.exit(main())
