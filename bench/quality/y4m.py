"""YUV4MPEG2 4:2:0 8-bit reading and writing, and the picture metrics of the quality benchmark.

PSNR: 8-bit peak 255, over one plane (99 dB for identical planes).
SSIM: luma SSIM with a Gaussian window (sigma 1.5, K1 0.01, K2 0.03, population covariance),
i.e. scikit-image's structural_similarity(..., gaussian_weights=True, sigma=1.5,
use_sample_covariance=False, data_range=255).
"""
import re

import numpy as np


def read(path):
    """Returns (header line, frames); a frame is [Y, Cb, Cr], uint8 arrays (4:2:0, 8-bit)."""
    with open(path, 'rb') as fh:
        data = fh.read()
    nl = data.index(b'\n')
    header = data[:nl].decode('ascii')
    tokens = header.split()
    if tokens[0] != 'YUV4MPEG2':
        raise ValueError(f'{path}: not a YUV4MPEG2 stream')
    width = height = None
    colour = '420jpeg'
    for t in tokens[1:]:
        if t[0] == 'W':
            width = int(t[1:])
        elif t[0] == 'H':
            height = int(t[1:])
        elif t[0] == 'C':
            colour = t[1:]
    if not colour.startswith('420') or re.match(r'420p\d', colour):
        raise ValueError(f'{path}: only 4:2:0 8-bit streams are handled here, not C{colour}')
    cw, ch = (width + 1) // 2, (height + 1) // 2
    pos = nl + 1
    frames = []
    while pos < len(data):
        end = data.index(b'\n', pos)
        if not data[pos:end].startswith(b'FRAME'):
            raise ValueError(f'{path}: frame {len(frames)}: no FRAME header')
        pos = end + 1
        planes = []
        for h, w in ((height, width), (ch, cw), (ch, cw)):
            planes.append(np.frombuffer(data, np.uint8, w * h, pos).reshape(h, w).copy())
            pos += w * h
        frames.append(planes)
    return header, frames


def write(path, header, frames):
    with open(path, 'wb') as fh:
        fh.write((header + '\n').encode('ascii'))
        for f in frames:
            fh.write(b'FRAME\n')
            for p in f:
                fh.write(np.ascontiguousarray(p, np.uint8).tobytes())


def psnr(a, b):
    d = a.astype(np.float64) - b.astype(np.float64)
    m = np.mean(d * d)
    return 99.0 if m == 0 else 10 * np.log10(255.0 ** 2 / m)


def psnr_frames(frames_a, frames_b, plane=0):
    """PSNR of one plane over all frames together (one mean squared error)."""
    m = np.mean([np.mean((a[plane].astype(np.float64) - b[plane].astype(np.float64)) ** 2)
                 for a, b in zip(frames_a, frames_b)])
    return 99.0 if m == 0 else 10 * np.log10(255.0 ** 2 / m)


def ssim(a, b):
    from skimage.metrics import structural_similarity
    return structural_similarity(a.astype(np.float64), b.astype(np.float64), data_range=255,
                                 gaussian_weights=True, sigma=1.5, use_sample_covariance=False)
