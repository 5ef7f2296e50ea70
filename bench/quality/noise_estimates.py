#!/usr/bin/python3
"""Single-frame noise levels on the quality benchmark's pictures: the level velmora's --auto
measures on one frame, beside this script's own statement of the kurtosis level that corrects it
(engine/channel_kurtosis.h: the 63 AC channels of 8x8 DCT blocks every STEP samples, fitting
sqrt(kurtosis - 3) = a (1 - s^2 / variance) over them); each level used by `velmora --mode best
--temporal 0 --sigma-luma L`, its luma PSNR against the clean picture next to that of the true
sigma.

    /usr/bin/python3 bench/quality/noise_estimates.py [--velmora build/native/velmora] [--step 4]

On one frame the block measure alone over-reads pure fine texture (grass: 9.1 at sigma 5, 13.4
at 10, 6.9 on the clean picture) and the kurtosis level under-reads it. The tool now measures
again on the blocks whose finest detail its level explains, and falls back on the geometric mean
of the two (where the kurtosis level is below 0.85 times the block level) only when few blocks
are left (engine/noise_level.h); the quality benchmark's one-frame section (run.py) measures
the result. Needs Debian's python3-numpy, python3-scipy and python3-skimage.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from scipy.fft import dctn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import material  # noqa: E402
import y4m  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGMAS = (0, 5, 10, 20)
LEAST_LEVEL = 0.5  # the tool leaves a plane alone below this level


def kurtosis_level(luma, step):
    x = luma.astype(np.float64)
    blocks = np.lib.stride_tricks.sliding_window_view(x, (8, 8))[::step, ::step].reshape(-1, 8, 8)
    channels = dctn(blocks, axes=(1, 2), norm='ortho').reshape(-1, 64)[:, 1:]
    m = channels - channels.mean(axis=0)
    var = (m ** 2).mean(axis=0)
    if np.any(var <= 0):
        return 0.0
    excess = np.sqrt(np.maximum((m ** 4).mean(axis=0) / var ** 2 - 3.0, 0.0))
    best = None
    for s2 in np.linspace(0.0, var.min() * 0.999, 800):
        w = 1.0 - s2 / var
        a = (w * excess).sum() / (w * w).sum()
        err = ((excess - a * w) ** 2).sum()
        if best is None or err < best[0]:
            best = (err, s2)
    return float(np.sqrt(best[1]))


def measured_level(vel, stream, work):
    """The luma level velmora measures on the stream's one frame (0 when it finds none)."""
    out = os.path.join(work, 'measured.y4m')
    err = subprocess.run([vel, '--auto', '--mode', 'best', '--temporal', '0', stream, out],
                         capture_output=True, text=True).stderr
    found = re.search(r'noise sigma Y ([0-9.]+)', err)
    return float(found.group(1)) if found else 0.0


def luma_psnr(vel, clean, stream, level, work):
    out = os.path.join(work, 'filtered.y4m')
    if level < LEAST_LEVEL:
        out = stream
    else:
        subprocess.run([vel, '--quiet', '--mode', 'best', '--temporal', '0', '--sigma-luma',
                        f'{level:.2f}', '--sigma-chroma', '0', stream, out], check=True)
    return y4m.psnr(y4m.read(clean)[1][0][0], y4m.read(out)[1][0][0])


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('--velmora', default=os.path.join(REPO, 'build/native/velmora'))
    ap.add_argument('--step', type=int, default=4)
    args = ap.parse_args()
    sample = os.path.join(os.path.dirname(args.velmora), 'velmora-sample')
    with tempfile.TemporaryDirectory(prefix='velmora-noise-') as work:
        pngs = material.write_pictures(os.path.join(work, 'png'), list(material.PICTURES))
        print(f'{"picture":10} {"sigma":>5} {"tool":>6} {"kurt.":>6}  {"PSNR: true":>10} '
              f'{"tool":>7}  (luma, dB; clean: against itself)')
        worst = 0.0
        for name, png in pngs.items():
            clean = material.sample_stream(sample, png, os.path.join(work, 'clean.y4m'), 0)
            for s in SIGMAS:
                stream = material.sample_stream(sample, png, os.path.join(work, f's{s}.y4m'), s)
                m = measured_level(args.velmora, stream, work)
                k = kurtosis_level(y4m.read(stream)[1][0][0], args.step)
                true = luma_psnr(args.velmora, clean, stream, s, work) if s else float('nan')
                got = luma_psnr(args.velmora, clean, stream, m, work)
                if s:
                    worst = max(worst, true - got)
                print(f'{name:10} {s:5} {m:6.2f} {k:6.2f}  {true:10.2f} {got:7.2f}', flush=True)
        print(f'largest loss against the true sigma: {worst:.2f} dB')


if __name__ == '__main__':
    main()
