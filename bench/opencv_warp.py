#!/usr/bin/env python3
"""OpenCV's warpPerspective on the render benchmark's scene, for comparison.

  opencv_warp.py WIDTH HEIGHT X0,Y0,...,X3,Y3 BOXX,BOXY,BOXW,BOXH INTERP FORMAT THREADS REPS [SX0,SY0,...,SX3,SY3]

Warps a WIDTH x HEIGHT image of random samples (FORMAT u8, u16 or float,
four channels) whose corners (or the quadrangle SX0,SY0... when given) go to
the eight coordinates, into an image the
size of the box whose corner is (BOXX, BOXY), with INTERP 0 nearest, 1
linear, 2 cubic, 3 Lanczos (OpenCV's is 8 x 8), on THREADS threads. Prints
the median of REPS timed calls in seconds; the image is made and the call
warmed up first. Exits 2 when OpenCV is not installed.
"""
import statistics
import sys
import time

try:
    import cv2
    import numpy as np
except ImportError:
    sys.exit(2)


def main():
    width, height = int(sys.argv[1]), int(sys.argv[2])
    corners = [float(v) for v in sys.argv[3].split(",")]
    bx, by, bw, bh = [int(v) for v in sys.argv[4].split(",")]
    interp = [cv2.INTER_NEAREST, cv2.INTER_LINEAR, cv2.INTER_CUBIC,
              cv2.INTER_LANCZOS4][int(sys.argv[5])]
    kind = sys.argv[6]
    cv2.setNumThreads(int(sys.argv[7]))
    reps = int(sys.argv[8])

    rng = np.random.default_rng(1612)
    if kind == "u8":
        image = rng.integers(0, 256, (height, width, 4), dtype=np.uint8)
    elif kind == "u16":
        image = rng.integers(0, 65536, (height, width, 4), dtype=np.uint16)
    else:
        image = rng.random((height, width, 4), dtype=np.float32)
    src = np.float32([[0, 0], [width, 0], [width, height], [0, height]])
    if len(sys.argv) > 9:
        q = [float(v) for v in sys.argv[9].split(",")]
        src = np.float32([[q[2 * i], q[2 * i + 1]] for i in range(4)])
    dst = np.float32([[corners[2 * i] - bx, corners[2 * i + 1] - by]
                      for i in range(4)])
    matrix = cv2.getPerspectiveTransform(src, dst)

    def warp():
        return cv2.warpPerspective(image, matrix, (bw, bh), flags=interp,
                                   borderMode=cv2.BORDER_CONSTANT)

    warp()
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        warp()
        times.append(time.perf_counter() - start)
    print("%.6f" % statistics.median(times))


if __name__ == "__main__":
    main()
