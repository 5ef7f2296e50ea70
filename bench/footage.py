#!/usr/bin/python3
"""Writes a noisy stream of real footage for the speed benchmarks: frames of a clip of the
quality benchmark's footage (Debian's opencv-doc, fetched once into the cache), scaled to the
size asked for, 4:2:0 8-bit, with Gaussian noise of sigma 8-bit steps (fixed seeds).

    bench/footage.py --size 1920x1080 --frames 20 [--clip vtest] [--sigma 5] [--cache .cache] OUT.y4m
"""
import argparse
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, 'quality'))

import material  # noqa: E402
import y4m  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--size', default='1920x1080')
    ap.add_argument('--frames', type=int, default=20)
    ap.add_argument('--clip', default='vtest', choices=sorted(material.CLIPS))
    ap.add_argument('--sigma', type=float, default=5)
    ap.add_argument('--cache', default=os.path.join(os.path.dirname(HERE), '.cache'))
    ap.add_argument('out')
    a = ap.parse_args()
    width, height = (int(v) for v in a.size.split('x'))
    footage, _ = material.fetch_footage(a.cache)
    with tempfile.TemporaryDirectory() as tmp:
        clip = os.path.join(tmp, 'clip.y4m')
        material.cut_clip(footage, a.clip, a.frames, clip)
        scaled = os.path.join(tmp, 'scaled.y4m')
        subprocess.run(['ffmpeg', '-v', 'error', '-nostdin', '-y', '-i', clip, '-vf',
                        f'scale={width}:{height}:flags=lanczos', '-pix_fmt', 'yuv420p',
                        '-f', 'yuv4mpegpipe', scaled], check=True)
        header, frames = y4m.read(scaled)
    y4m.write(a.out, header, material.add_noise(frames, a.sigma))


if __name__ == '__main__':
    main()
