#!/usr/bin/python3
"""Velmora quality benchmark: velmora's modes against ffmpeg's denoisers, measured in one run.

    bench/quality/run.py [--quick] [--verbose] [--velmora build/native/velmora] [--json FILE]

Material (material.py): nine pictures from python3-skimage's data folder made into 4:2:0 8-bit
streams by velmora-sample with Gaussian noise of sigma 5, 10 and 20 (fixed seeds), and three
clips of real footage from Debian's opencv-doc package (fetched once into .cache/footage) with
noise of sigma 10 (fixed seeds).

One-frame levels: --auto (best mode, one frame) on the nine pictures and six more photographs
of the same folder (material.LEVEL_PICTURES) with Gaussian noise of sigma 1.5 and the sigmas
above, and clean: the luma level it says and its luma PSNR against the true sigma.

Camera noise (material.camera_noise): five photographs at low, mid and high ISO and 12 frames of
the vtest and box clips at high ISO; velmora's defaults (no option: the level measured, temporal
3), velmora with the best of --sigma 0.5 .. 1.8 times the luma noise's standard deviation, and
ffmpeg's nlmeans (s 0.6 .. 1.25 times it) and bm3d (sigma 3, 4, 5 times it; one stage), each at
its best setting per picture or clip: the luma PSNR gain over the noisy input.

Methods: velmora exact mode (k 3) and best mode, each with the true sigma and with --auto;
best mode with --temporal R on the clips; ffmpeg's nlmeans (s = 0.6, 0.8, 1.0 sigma), bm3d
(sigma 4 sigma, no grouping), vaguedenoiser (threshold 1.5, 2, 2.5 sigma) and hqdn3d (2, 3, 4
sigma). velmora's options are found from `velmora --help` and a run on a small stream: rows the
binary cannot run are skipped with a note.

Printed: per sigma, mean luma PSNR gain over the noisy input (dB), mean luma SSIM and CPU time
per frame (one thread) of every method; the --auto checks; the clip tables with the temporal
checks; the speed of best mode and of nlmeans' defaults on 1920x1080 4:2:0 8-bit frames, two
threads each, alternated in the same run; and every target as a line ending in met / NOT met /
skipped. Progress goes to standard error, the report to standard output.

--quick: sigma 10 only, three pictures, 12 frames per clip, one speed round (a few minutes);
camera noise on two pictures and 6 frames of vtest. The one-frame levels and camera noise alone
(--skip pictures,clips,speed) take about three minutes.
"""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

try:
    import numpy as np
    import skimage
except ImportError as e:  # the python3 on PATH may be one without Debian's packages
    sys.exit(f'{e}: run with Debian\'s /usr/bin/python3 and install python3-numpy python3-skimage')

import material  # noqa: E402
import runners  # noqa: E402
import y4m  # noqa: E402

SIGMA_CLIPS = 10
QUICK_PICTURES = ['astronaut', 'coins', 'grass']
CAMERA_PICTURES = ['astronaut', 'chelsea', 'coffee', 'rocket', 'camera']  # photographs
AUTO_LIMIT = 0.3       # dB that --auto may lose against the true sigma
CLEAN_LIMIT = 40.0     # dB of a clean picture against itself after --auto
SPEED_FACTOR = 10.0    # best mode at least this many times faster than nlmeans' defaults
TEMPORAL_GAIN = 1.0    # dB above best alone on the still-camera clip


def log(*a):
    print(*a, file=sys.stderr, flush=True)


# ----------------------------------------------------------------------------------- methods

class Method:
    """One row: a velmora configuration (feature, mode, strength, temporal) or an ffmpeg filter."""

    def __init__(self, name, feature=None, mode=None, strength=None, temporal=None, vf=None):
        self.name, self.feature, self.mode, self.strength = name, feature, mode, strength
        self.temporal, self.vf = temporal, vf

    def available(self, vel):
        return self.vf is not None or vel.has(self.feature)

    def run(self, vel, src, dst):
        if self.vf is not None:
            return runners.ffmpeg_filter(self.vf, src, dst)
        return vel.run(self.mode, self.strength, src, dst, self.temporal)


def picture_methods(s):
    m = [Method('velmora exact, k 3', 'exact', 'exact', s),
         Method('velmora exact --auto', 'exact-auto', 'exact', 'auto'),
         Method('velmora best', 'best', 'best', s),
         Method('velmora best --auto', 'best-auto', 'best', 'auto')]
    for f in (0.6, 0.8, 1.0):
        m.append(Method(f'nlmeans s={f:g}σ', vf=f'nlmeans=s={max(1.0, f * s):g}'))
    m.append(Method('bm3d sigma=4σ', vf=f'bm3d=sigma={4 * s:g}'))
    for f in (1.5, 2, 2.5):
        m.append(Method(f'vaguedenoiser threshold={f:g}σ', vf=f'vaguedenoiser=threshold={f * s:g}'))
    for f in (2, 3, 4):
        m.append(Method(f'hqdn3d {f:g}σ', vf=f'hqdn3d={f * s:g}'))
    return m


def clip_methods(s, radii):
    m = [Method('velmora exact, k 3', 'exact', 'exact', s),
         Method('velmora exact --auto', 'exact-auto', 'exact', 'auto'),
         Method('velmora best', 'best', 'best', s),
         Method('velmora best --auto', 'best-auto', 'best', 'auto')]
    for r in radii:
        m.append(Method(f'velmora best --temporal {r}', 'temporal', 'best', s, temporal=r))
    m.append(Method('nlmeans s=0.8σ', vf=f'nlmeans=s={0.8 * s:g}'))
    for f in (2, 4):
        m.append(Method(f'hqdn3d {f:g}σ (temporal too)', vf=f'hqdn3d={f * s:g}'))
    return m


# ----------------------------------------------------------------------------------- output

def table(headers, rows, indent='  '):
    widths = [max(len(str(r[i])) for r in [headers] + rows) for i in range(len(headers))]
    out = []
    for k, r in enumerate([headers] + rows):
        cells = [str(c).ljust(w) if i == 0 else str(c).rjust(w) for i, (c, w) in enumerate(zip(r, widths))]
        out.append(indent + '  '.join(cells).rstrip())
        if k == 0:
            out.append(indent + '  '.join('-' * w for w in widths))
    return '\n'.join(out)


def sign(v):
    return f'{v:+.2f}'.replace('-', '−')


class Targets:
    def __init__(self):
        self.lines = []

    def add(self, text, verdict):
        """verdict: True (met), False (NOT met), or a note why it was not measured ('skipped: …',
        'FAILED: …')."""
        if not isinstance(verdict, str):
            verdict = 'met' if verdict else 'NOT met'
        self.lines.append(f'{text}: {verdict}')


# ----------------------------------------------------------------------------------- sections

def run_method(vel, method, src, work):
    """Runs one method on src; returns (frames out, Run) or (None, Run) on failure."""
    dst = os.path.join(work, 'out.y4m')
    r = method.run(vel, src, dst)
    if r.code != 0:
        return None, r
    _, out = y4m.read(dst)
    os.remove(dst)
    return out, r


def overheads(vel, src, work):
    """CPU seconds of each tool passing src through unchanged (ffmpeg -vf null, velmora with
    strength 0), the smaller of two runs: subtracted from the filters' times."""
    dst = os.path.join(work, 'pass.y4m')
    o = {'ffmpeg': min(runners.ffmpeg_filter('null', src, dst).cpu for _ in range(2)),
         'velmora': min(vel.passthrough(src, dst).cpu for _ in range(2))}
    os.remove(dst)
    return o


def filter_ms(method, run, base, frames):
    return 1000 * max(0.0, run.cpu - base['ffmpeg' if method.vf else 'velmora']) / frames


def plural(n, word):
    return f'{n} {word}' + ('' if n == 1 else 's')


def pictures_section(args, vel, sample, pngs, work, targets, results):
    sigmas, pics = args.sigmas, args.pictures
    streams = os.path.join(work, 'streams')
    os.makedirs(streams, exist_ok=True)
    clean = {}
    for p in pics:
        path = material.sample_stream(sample, pngs[p], os.path.join(streams, f'{p}_s0.y4m'), 0)
        clean[p] = y4m.read(path)[1]
    notes = {}
    auto_modes = [m for m in ('exact', 'best') if vel.has(m) and vel.has(m + '-auto')]
    res = results.setdefault('pictures', {})
    auto_res = results.setdefault('auto', {})
    for s in sigmas:
        methods = picture_methods(s)
        rs = res.setdefault(str(s), {})
        for p in pics:
            log(f'pictures, σ {s}: {p}')
            src = material.sample_stream(sample, pngs[p], os.path.join(streams, f'{p}_s{s}.y4m'), s)
            _, noisy = y4m.read(src)
            c = clean[p][0]
            base = [y4m.psnr(noisy[0][k], c[k]) for k in range(3)]
            rs.setdefault('noisy input', {})[p] = dict(gain=0.0, gain_chroma=0.0, psnr=base[0],
                                                       ssim=y4m.ssim(noisy[0][0], c[0]))
            cost = overheads(vel, src, work)
            for m in methods:
                if not m.available(vel):
                    notes[m.name] = vel.why_not(m.feature)
                    continue
                out, r = run_method(vel, m, src, work)
                if out is None:
                    notes[m.name] = f'FAILED on {p} σ {s}: {r.first_error_line()}'
                    continue
                o = out[0]
                q = [y4m.psnr(o[k], c[k]) for k in range(3)]
                rs.setdefault(m.name, {})[p] = dict(
                    gain=q[0] - base[0], gain_chroma=(q[1] - base[1] + q[2] - base[2]) / 2,
                    psnr=q[0], ssim=y4m.ssim(o[0], c[0]), cpu_ms=filter_ms(m, r, cost, 1),
                    stderr=r.stderr.strip() if m.strength == 'auto' else '')
            # --auto on a 4-frame stream (fresh noise per frame, frame 0 = the still above)
            if auto_modes:
                src4 = material.sample_stream(sample, pngs[p], os.path.join(streams, f'{p}_s{s}_f4.y4m'),
                                              s, frames=4)
                _, noisy4 = y4m.read(src4)
                clean4 = [clean[p][0]] * 4
                for mode in auto_modes:
                    got = {}
                    for strength in (s, 'auto'):
                        out, r = run_method(vel, Method('', mode, mode, strength), src4, work)
                        got[strength] = None if out is None else y4m.psnr_frames(out, clean4)
                    if None not in got.values():
                        auto_res.setdefault(mode, {}).setdefault('stream', {}).setdefault(str(s), {})[p] = \
                            got['auto'] - got[s]
                os.remove(src4)
            os.remove(src)
        # the table
        print(f'\nσ {s}: {plural(len(pics), "picture")} ({", ".join(pics)}), noise on every plane; '
              f'mean over the pictures')
        rows = []
        for name in ['noisy input'] + [m.name for m in methods]:
            if name not in rs:
                rows.append([name, '', '', '', '', notes.get(name, '')])
                continue
            v = [rs[name][p] for p in pics if p in rs[name]]
            if len(v) < len(pics):
                rows.append([name, '', '', '', '', notes.get(name, 'incomplete')])
                continue
            ms = f'{statistics.mean(x["cpu_ms"] for x in v):.0f}' if 'cpu_ms' in v[0] else ''
            rows.append([name, sign(statistics.mean(x['gain'] for x in v)),
                         f'{statistics.mean(x["ssim"] for x in v):.4f}',
                         sign(statistics.mean(x['gain_chroma'] for x in v)), ms, ''])
        print(table(['method', 'Y gain dB', 'Y SSIM', 'CbCr gain dB', 'CPU ms/frame', 'note'], rows))
        if args.verbose:
            print(f'\n  σ {s}, luma PSNR gain per picture (dB):')
            prow = [[name] + [sign(rs[name][p]['gain']) if p in rs.get(name, {}) else '' for p in pics]
                    for name in [m.name for m in methods] if name in rs]
            print(table(['method'] + pics, prow, indent='    '))
            for name in rs:
                for p in pics:
                    e = rs[name].get(p, {}).get('stderr')
                    if e:
                        print(f'    {name}, {p}: ' + ' | '.join(e.splitlines()))
        # the quality target: best with the true sigma against nlmeans at its best s
        nl = {n: statistics.mean(rs[n][p]['gain'] for p in pics) for n in rs
              if n.startswith('nlmeans') and len(rs[n]) == len(pics)}
        label = f'best σ{s}, true σ, mean luma gain over {plural(len(pics), "picture")}'
        if 'velmora best' in rs and len(rs['velmora best']) == len(pics) and nl:
            b = statistics.mean(rs['velmora best'][p]['gain'] for p in pics)
            top = max(nl, key=nl.get)
            targets.add(f'{label}: {sign(b)} vs {top} (nlmeans at its best s) {sign(nl[top])}',
                        b >= nl[top])
        else:
            targets.add(label, notes.get('velmora best', 'FAILED: no result'))
        # --auto on the stills: the table's runs
        for mode in auto_modes:
            t, a = f'velmora {"exact, k 3" if mode == "exact" else "best"}', f'velmora {mode} --auto'
            if t in rs and a in rs:
                auto_res.setdefault(mode, {}).setdefault('still', {})[str(s)] = {
                    p: rs[a][p]['psnr'] - rs[t][p]['psnr'] for p in pics if p in rs[a] and p in rs[t]}
    # --auto checks, and clean pictures
    print('\n--auto against the same mode given the true σ (luma PSNR difference, dB; '
          'still = the one-frame pictures above, stream = 4 frames, fresh noise in each)')
    rows = []
    for mode in ('exact', 'best'):
        if mode not in auto_modes:
            why = vel.why_not(mode + '-auto') if vel.has(mode) else vel.why_not(mode)
            targets.add(f'--auto, {mode} mode', why)
            continue
        for kind in ('still', 'stream'):
            per = auto_res.get(mode, {}).get(kind, {})
            for s in sigmas:
                d = per.get(str(s), {})
                if len(d) < len(pics):
                    targets.add(f'--auto {mode} σ{s}, {kind}', 'FAILED: a run failed')
                    continue
                worst = min(d, key=d.get)
                rows.append([f'{mode} {kind}', f'σ {s}'] + [sign(d[p]) for p in pics])
                targets.add(f'--auto {mode} σ{s}, {kind} ({"1 frame" if kind == "still" else "4 frames"}): '
                            f'worst {worst} {sign(d[worst])} dB, best {sign(max(d.values()))} '
                            f'(limit −{AUTO_LIMIT:g})', d[worst] >= -AUTO_LIMIT)
    if rows:
        print(table(['mode, input', 'σ'] + pics, rows))
    print('\nClean pictures (no noise) through --auto: PSNR against themselves (dB, Y / lowest of Cb Cr)')
    rows = []
    for mode in auto_modes:
        row, worst = [f'{mode} --auto'], None
        for p in pics:
            src = os.path.join(streams, f'{p}_s0.y4m')
            out, r = run_method(vel, Method('', mode, mode, 'auto'), src, work)
            if out is None:
                row.append('failed')
                continue
            qy = y4m.psnr(out[0][0], clean[p][0][0])
            qc = min(y4m.psnr(out[0][k], clean[p][0][k]) for k in (1, 2))
            auto_res.setdefault(mode, {}).setdefault('clean', {})[p] = dict(y=qy, chroma=qc)
            row.append(f'{qy:.1f} / {qc:.1f}')
            if worst is None or qy < worst[1]:
                worst = (p, qy)
        rows.append(row)
        if worst and len(auto_res[mode]['clean']) == len(pics):
            targets.add(f'clean pictures through {mode} --auto: lowest luma {worst[0]} {worst[1]:.1f} dB '
                        f'(limit {CLEAN_LIMIT:g})', worst[1] >= CLEAN_LIMIT)
    if rows:
        print(table(['mode'] + pics, rows))


def clips_section(args, vel, work, targets, results):
    s = SIGMA_CLIPS
    footage, package = material.fetch_footage(args.cache)
    results['footage'] = package
    res = results.setdefault('clips', {})
    for clip in args.clips:
        log(f'clip {clip}: cutting {args.clip_frames} frames')
        clean_path = os.path.join(work, f'{clip}_s0.y4m')
        header, clean = material.cut_clip(footage, clip, args.clip_frames, clean_path)
        noisy = material.add_noise(clean, s)
        src = os.path.join(work, f'{clip}_s{s}.y4m')
        y4m.write(src, header, noisy)
        os.remove(clean_path)
        base = [y4m.psnr(n[0], c[0]) for n, c in zip(noisy, clean)]
        cost = overheads(vel, src, work)
        rc = res.setdefault(clip, {})
        rc['noisy input'] = dict(gain=[0.0] * len(base), psnr=base,
                                 ssim=[y4m.ssim(n[0], c[0]) for n, c in zip(noisy, clean)])
        notes = {}
        methods = clip_methods(s, args.radii)
        for m in methods:
            if not m.available(vel):
                notes[m.name] = vel.why_not(m.feature)
                continue
            log(f'clip {clip}: {m.name}')
            out, r = run_method(vel, m, src, work)
            if out is None:
                notes[m.name] = 'FAILED: ' + r.first_error_line()
                continue
            if len(out) != len(clean):
                notes[m.name] = f'FAILED: {len(out)} frames out of {len(clean)}'
                continue
            q = [y4m.psnr(o[0], c[0]) for o, c in zip(out, clean)]
            rc[m.name] = dict(gain=[a - b for a, b in zip(q, base)], psnr=q,
                              ssim=[y4m.ssim(o[0], c[0]) for o, c in zip(out, clean)],
                              cpu_ms=filter_ms(m, r, cost, len(out)))
        os.remove(src)
        w, h = clean[0][0].shape[1], clean[0][0].shape[0]
        print(f'\nClip {clip} ({material.CLIPS[clip][2]}; {w}x{h}, frames {material.CLIPS[clip][1]}–'
              f'{material.CLIPS[clip][1] + len(clean) - 1}), σ {s}; luma, mean over the frames')
        best = rc.get('velmora best')
        rows = []
        for name in ['noisy input'] + [m.name for m in methods]:
            if name not in rc:
                rows.append([name, '', '', '', '', '', '', notes.get(name, '')])
                continue
            v = rc[name]
            vs = ['', '']
            if best and name != 'noisy input':
                d = [a - b for a, b in zip(v['psnr'], best['psnr'])]
                vs = [sign(statistics.mean(d)), sign(min(d))]
            rows.append([name, sign(statistics.mean(v['gain'])), sign(min(v['gain'])),
                         f'{statistics.mean(v["ssim"]):.4f}'] + vs +
                        [f'{v["cpu_ms"]:.0f}' if 'cpu_ms' in v else '', ''])
        print(table(['method', 'gain dB', 'worst frame', 'SSIM', 'vs best: mean', 'worst frame',
                     'CPU ms/frame', 'note'], rows))
        if args.verbose and best:
            print('\n    per-frame luma gain over best alone (dB):')
            for name in rc:
                if name.startswith('velmora best --temporal'):
                    d = [a - b for a, b in zip(rc[name]['psnr'], best['psnr'])]
                    print(f'    {name}: ' + ' '.join(f'{x:+.2f}' for x in d))
        # temporal targets
        for r in args.radii:
            name = f'velmora best --temporal {r}'
            if clip not in ('vtest', 'box'):
                continue
            if name not in rc or not best:
                targets.add(f'--temporal {r} on {clip}',
                            notes.get(name, notes.get('velmora best', 'FAILED: no result')))
                continue
            d = [a - b for a, b in zip(rc[name]['psnr'], best['psnr'])]
            if clip == 'vtest':
                targets.add(f'--temporal {r}, vtest (still camera, people) σ{s}: {sign(statistics.mean(d))} dB '
                            f'over best alone (worst frame {sign(min(d))}; target +{TEMPORAL_GAIN:g})',
                            statistics.mean(d) >= TEMPORAL_GAIN)
            else:
                targets.add(f'--temporal {r}, box (fast motion) σ{s}: worst frame {sign(min(d))} dB '
                            f'against best alone (target: none below 0)', min(d) >= 0)


def auto_levels(stderr):
    """The luma level a velmora run said it measured first, and whether it said "no noise" for
    luma: (level or None, no noise)."""
    m = re.search(r'noise sigma Y ([0-9.]+)', stderr)
    none = re.search(r'plane Y: (no noise found|nothing measurable)', stderr) is not None
    return (float(m.group(1)) if m else None), none


def levels_section(args, vel, sample, pngs, work, targets, results):
    """--auto on one frame of each picture with Gaussian noise: the luma level measured against
    the true sigma, and what it costs in best mode against the true sigma."""
    if not vel.has('best-auto'):
        targets.add('--auto levels on one frame', vel.why_not('best-auto'))
        return
    res = results.setdefault('levels', {})
    rows, failures, worst = [], [], None
    level_sigmas = sorted(set([1.5] + list(args.sigmas)))
    for p in args.level_pictures:
        log(f'levels: {p}')
        clean = y4m.read(material.sample_stream(sample, pngs[p], os.path.join(work, 'lc.y4m'), 0))[1]
        row = [p]
        for s in [0] + level_sigmas:
            src = material.sample_stream(sample, pngs[p], os.path.join(work, 'ln.y4m'), s) if s else \
                os.path.join(work, 'lc.y4m')
            out, r = run_method(vel, Method('', 'best', 'best', 'auto', temporal=0), src, work)
            level, none = auto_levels(r.stderr)
            cell = 'none' if none or level is None else f'{level:.2f}'
            entry = dict(level=level, none=none)
            if s and out is not None:
                ref, _ = run_method(vel, Method('', 'best', 'best', s, temporal=0), src, work)
                if ref is not None:
                    loss = y4m.psnr(out[0][0], clean[0][0]) - y4m.psnr(ref[0][0], clean[0][0])
                    entry['loss'] = loss
                    cell += f' ({sign(loss)})'
                    if worst is None or loss < worst[2]:
                        worst = (p, s, loss)
                if none or level is None or abs(level - s) > 0.25 * s:
                    failures.append(f'{p} σ {s:g}: {"no noise found" if none or level is None else f"{level:.2f}"}')
            res.setdefault(p, {})[str(s)] = entry
            row.append(cell)
        rows.append(row)
    print('\n--auto on one frame (best mode, --temporal 0), Gaussian noise: luma level measured '
          '(8-bit steps; "none": no noise found) and, in brackets, luma PSNR against the true σ (dB)')
    print(table(['picture', 'clean'] + [f'σ {s:g}' for s in level_sigmas], rows))
    targets.add(f'--auto on one frame: never "no noise" nor more than 25 % off the true σ '
                f'({"; ".join(failures) if failures else "none off"})', not failures)
    if worst:
        targets.add(f'--auto on one frame against the true σ: worst {worst[0]} σ {worst[1]:g} '
                    f'{sign(worst[2])} dB (limit −{AUTO_LIMIT:g})', worst[2] >= -AUTO_LIMIT)


def camera_case(vel, clean, noisy, src, work, peers):
    """One camera-noise stream: luma PSNR gain over the noisy input (all frames) of velmora's
    defaults, of velmora with the best of a few --sigma values and of each peer at its best
    setting. Returns a dict of method: (gain, setting, chroma gain: the mean of Cb's and Cr's at
    that setting), plus 'level' (the defaults' luma level)."""
    base = [y4m.psnr_frames(noisy, clean, p) for p in range(3)]
    eff = float(np.sqrt(np.mean([np.mean((n[0].astype(np.float64) - c[0]) ** 2)
                                 for n, c in zip(noisy, clean)])))
    dst = os.path.join(work, 'cam_out.y4m')

    def gain(r):
        if r.code != 0:
            raise RuntimeError(r.first_error_line())
        out = y4m.read(dst)[1]
        g = [y4m.psnr_frames(out, clean, p) - base[p] for p in range(3)]
        os.remove(dst)
        return g[0], (g[1] + g[2]) / 2

    out = {'noise': eff}
    r = runners.timed([vel.path, '--threads', '1', '--progress', 'never', src, dst])
    out['level'] = auto_levels(r.stderr)
    y, c = gain(r)
    out['velmora defaults'] = (y, '', c)
    best = None
    for f in CAMERA_VELMORA:
        y, c = gain(runners.timed([vel.path, '--threads', '1', '--progress', 'never', '--quiet',
                                   '--sigma', f'{f * eff:.2f}', src, dst]))
        if best is None or y > best[0]:
            best = (y, f'--sigma {f * eff:.2f}', c)
    out['velmora best --sigma'] = best
    for name, settings in peers:
        best = None
        for vf in settings(eff):
            y, c = gain(runners.ffmpeg_filter(vf, src, dst))
            if best is None or y > best[0]:
                best = (y, vf, c)
        out[name] = best
    return out


CAMERA_VELMORA = (0.5, 0.65, 0.8, 1.0, 1.25, 1.5, 1.8)  # --sigma tried, times the luma noise's std


def camera_peers(clip):
    nl = (0.6, 0.8, 1.0) if clip else (0.6, 0.8, 1.0, 1.25)
    return [('ffmpeg nlmeans', lambda e: [f'nlmeans=s={max(1.0, f * e):.2f}' for f in nl]),
            ('ffmpeg bm3d', lambda e: [f'bm3d=sigma={f * e:.2f}' for f in (3, 4, 5)])]


def camera_section(args, vel, pngs, work, targets, results):
    import skimage.io
    res = results.setdefault('camera', {})
    methods = ['velmora defaults', 'velmora best --sigma', 'ffmpeg nlmeans', 'ffmpeg bm3d']
    cases = []  # (label, kind, name, rgb frames, iso)
    for iso in args.camera_iso:
        for p in args.camera_pictures:
            rgb = skimage.io.imread(pngs[p])[:, :, :3].astype(np.float64)
            cases.append((f'stills, {iso} ISO', 'still', p, [rgb], iso))
    if args.camera_clips:
        footage, _ = material.fetch_footage(args.cache)
        for clip in args.camera_clips:
            _, frames = material.cut_clip(footage, clip, args.camera_frames, os.path.join(work, 'cut.y4m'))
            rgb = [material.rgb_from_420(f) for f in frames]
            cases.append((f'clip {clip} ({material.CLIPS[clip][2]}), high ISO', 'clip', clip, rgb, 'high'))
    groups = {}
    for k, (label, kind, name, rgb, iso) in enumerate(cases):
        log(f'camera noise: {label}: {name}')
        clean_path, src = os.path.join(work, 'cam_clean.y4m'), os.path.join(work, 'cam_noisy.y4m')
        clean, noisy = material.camera_stream(rgb, iso, 5000 + 100 * k, clean_path, src)
        r = camera_case(vel, clean, noisy, src, work, camera_peers(kind == 'clip'))
        res.setdefault(label, {})[name] = r
        groups.setdefault(label, []).append(name)
    print('\nCamera noise (linear-light variance a·x + b per RGB channel, demosaicing-like blur, sRGB '
          'curve, 4:2:0 BT.601 8-bit; ISO a, b: ' +
          ', '.join(f'{i} {a:g}, {b:g}' for i, (a, b) in material.CAMERA_ISO.items()) +
          '): luma PSNR gain over the noisy input (dB); velmora best --sigma and the peers at their '
          'best of a few settings (per picture); Y level: what the defaults measured; chroma: the '
          'mean of the Cb and Cr gains at the same settings')
    for label, names in groups.items():
        rows = []
        for n in names:
            r = res[label][n]
            lv, none = r['level']
            rows.append([n, f'{r["noise"]:.1f}', 'none' if none or lv is None else f'{lv:.2f}'] +
                        [sign(r[m][0]) for m in methods] +
                        [r['velmora best --sigma'][1].split()[-1]])
        mean = {m: statistics.mean(res[label][n][m][0] for n in names) for m in methods}
        rows.append(['mean', '', ''] + [sign(mean[m]) for m in methods] + [''])
        chroma = {m: statistics.mean(res[label][n][m][2] for n in names) for m in methods}
        rows.append(['chroma mean', '', ''] + [sign(chroma[m]) for m in methods] + [''])
        print(f'\n  {label}')
        print(table(['picture', 'Y noise std', 'Y level', 'defaults', 'best --sigma', 'nlmeans', 'bm3d',
                     'best σ'], rows, indent='    '))
        d = {n: res[label][n]['velmora defaults'][0] - res[label][n]['velmora best --sigma'][0]
             for n in names}
        worst = min(d, key=d.get)
        targets.add(f'camera {label}: defaults {sign(mean["velmora defaults"])} vs best --sigma '
                    f'{sign(mean["velmora best --sigma"])} on average, worst {worst} {sign(d[worst])} '
                    f'(limit −{AUTO_LIMIT:g})',
                    mean['velmora defaults'] >= mean['velmora best --sigma'] and d[worst] >= -AUTO_LIMIT)
        peer = max(mean['ffmpeg nlmeans'], mean['ffmpeg bm3d'])
        targets.add(f'camera {label}: defaults {sign(mean["velmora defaults"])} vs the better tuned peer '
                    f'{sign(peer)}', mean['velmora defaults'] >= peer)
        worse = [n for n in names if res[label][n]['velmora defaults'][0] < 0]
        targets.add(f'camera {label}: defaults never worse than the noisy input'
                    + (f' ({", ".join(worse)})' if worse else ''), not worse)


def speed_section(args, vel, sample, pngs, work, targets, results):
    log(f'speed: {plural(args.speed_frames, "frame")} of 1920x1080, {plural(args.speed_rounds, "round")}')
    s = 10
    src = material.sample_stream(sample, pngs[material.SPEED_PICTURE[0]], os.path.join(work, 'hd.y4m'),
                                 s, frames=args.speed_frames, size='1920x1080')
    with open(src, 'rb') as fh:  # into the page cache
        while fh.read(1 << 24):
            pass
    rows = {'ffmpeg nlmeans (defaults), -filter_threads 2':
                lambda: runners.ffmpeg_filter('nlmeans', src, None, threads=2)}
    if vel.has('best'):
        rows['velmora best --sigma 10, --threads 2'] = lambda: vel.run('best', s, src, '/dev/null', threads=2)
    if vel.has('temporal'):
        rows['velmora best --sigma 10 --temporal 3, --threads 2'] = \
            lambda: vel.run('best', s, src, '/dev/null', temporal=3, threads=2)
    rows['velmora exact --sigma 10 (k 3), --threads 2'] = lambda: vel.run('exact', s, src, '/dev/null', threads=2)
    times = {k: [] for k in rows}
    load = os.getloadavg()
    for _ in range(args.speed_rounds):
        for k, f in rows.items():
            r = f()
            if r.code != 0:
                raise RuntimeError(f'{k}: {r.first_error_line()}')
            times[k].append((1000 * r.wall / args.speed_frames, 1000 * r.cpu / args.speed_frames))
    load = (load, os.getloadavg())
    os.remove(src)
    med = {k: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v)) for k, v in times.items()}
    results['speed'] = {k: dict(wall_ms=v[0], cpu_ms=v[1], rounds=times[k]) for k, v in med.items()}
    nl = med['ffmpeg nlmeans (defaults), -filter_threads 2']
    print(f'\nSpeed: 1920x1080 4:2:0 8-bit, {args.speed_frames} frames ({material.SPEED_PICTURE[0]} scaled up, σ 10) '
          f'read from a file, output discarded; median of {args.speed_rounds} alternated round(s); '
          f'load average before {load[0][0]:.1f}, after {load[1][0]:.1f} (2 cores)')
    print(table(['what', 'wall ms/frame', 'CPU ms/frame', 'nlmeans / this (wall)'],
                [[k, f'{w:.1f}', f'{c:.1f}', f'{nl[0] / w:.1f}x'] for k, (w, c) in med.items()]))
    if not vel.has('best'):
        print(f'  velmora best: {vel.why_not("best")}')
    key = 'velmora best --sigma 10, --threads 2'
    if key in med:
        f = nl[0] / med[key][0]
        targets.add(f'best 1080p 4:2:0 8-bit, 2 threads: {med[key][0]:.1f} ms/frame vs nlmeans defaults '
                    f'{nl[0]:.0f} ms/frame: {f:.1f}x (target {SPEED_FACTOR:g}x)', f >= SPEED_FACTOR)
    else:
        targets.add('best 1080p 4:2:0 8-bit, 2 threads, against nlmeans defaults', vel.why_not('best'))


# ----------------------------------------------------------------------------------- main

def parse_args():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter,
                                 epilog='\n\n'.join(__doc__.split('\n\n')[1:]))
    ap.add_argument('--velmora', default=os.path.join(REPO, 'build/native/velmora'),
                    help='the velmora binary (default: build/native/velmora)')
    ap.add_argument('--sample', help='velmora-sample (default: beside velmora)')
    ap.add_argument('--quick', action='store_true', help='σ 10, three pictures, short clips, one speed round')
    ap.add_argument('--verbose', action='store_true', help='per-picture and per-frame details')
    ap.add_argument('--sigmas', help='comma-separated noise levels (default 5,10,20; quick 10)')
    ap.add_argument('--pictures', help='comma-separated picture names (default all nine; quick '
                    + ','.join(QUICK_PICTURES) + ')')
    ap.add_argument('--clips', help='comma-separated clips: ' + ','.join(material.CLIPS) + ' (quick: vtest,box)')
    ap.add_argument('--clip-frames', type=int, help='frames per clip (default 60, quick 12)')
    ap.add_argument('--radii', help='--temporal R values (default 1,2,3; quick 3)')
    ap.add_argument('--speed-frames', type=int, help='1080p frames per speed run (default 10, quick 4)')
    ap.add_argument('--speed-rounds', type=int, help='alternated speed rounds (default 3, quick 1)')
    ap.add_argument('--camera-pictures', help='camera noise: comma-separated pictures (default '
                    + ','.join(CAMERA_PICTURES) + '; quick astronaut,coffee)')
    ap.add_argument('--camera-iso', help='camera noise on the pictures: low,mid,high (the default)')
    ap.add_argument('--camera-clips', help='camera noise, high ISO: comma-separated clips, '' for none (default vtest,box; '
                    'quick vtest)')
    ap.add_argument('--camera-frames', type=int, help='frames per camera-noise clip (default 12, quick 6)')
    ap.add_argument('--skip', default='', help='comma-separated sections to leave out: '
                    'pictures,clips,levels,camera,speed')
    ap.add_argument('--cache', default=os.path.join(REPO, '.cache'), help='where the footage is kept (default .cache)')
    ap.add_argument('--keep', action='store_true', help='keep the scratch folder (its name is printed)')
    ap.add_argument('--json', help='write every measured value to this file')
    a = ap.parse_args()
    q = a.quick
    a.sigmas = [float(x) if '.' in x else int(x) for x in (a.sigmas or ('10' if q else '5,10,20')).split(',')]
    a.pictures = (a.pictures.split(',') if a.pictures else (QUICK_PICTURES if q else list(material.PICTURES)))
    for p in a.pictures:
        if p not in material.PICTURES and p not in material.LEVEL_PICTURES:
            ap.error(f'unknown picture {p}; the pictures: {", ".join(material.PICTURES)}')
    a.clips = a.clips.split(',') if a.clips else (['vtest', 'box'] if q else list(material.CLIPS))
    for c in a.clips:
        if c not in material.CLIPS:
            ap.error(f'unknown clip {c}; the clips: {", ".join(material.CLIPS)}')
    a.clip_frames = a.clip_frames or (12 if q else 60)
    a.radii = [int(x) for x in (a.radii or ('3' if q else '1,2,3')).split(',')]
    a.speed_frames = a.speed_frames or (4 if q else 10)
    a.speed_rounds = a.speed_rounds or (1 if q else 3)
    a.level_pictures = list(a.pictures) + ([] if q or a.pictures != list(material.PICTURES) else
                                           list(material.LEVEL_PICTURES))
    a.camera_pictures = (a.camera_pictures.split(',') if a.camera_pictures else
                         (['astronaut', 'coffee'] if q else list(CAMERA_PICTURES)))
    a.camera_iso = (a.camera_iso or 'low,mid,high').split(',')
    if a.camera_clips is None:  # '' asks for none
        a.camera_clips = 'vtest' if q else 'vtest,box'
    a.camera_clips = [c for c in a.camera_clips.split(',') if c]
    a.camera_frames = a.camera_frames or (6 if q else 12)
    for p in a.camera_pictures:
        if p not in material.PICTURES:
            ap.error(f'unknown picture {p}')
    for i in a.camera_iso:
        if i not in material.CAMERA_ISO:
            ap.error(f'unknown ISO {i}: low, mid or high')
    a.skip = set(x for x in a.skip.split(',') if x)
    a.sample = a.sample or os.path.join(os.path.dirname(a.velmora), 'velmora-sample')
    return a


def need_ffmpeg():
    if shutil.which('ffmpeg'):
        return
    if os.geteuid() != 0:
        sys.exit('ffmpeg is needed: apt-get install -y --no-install-recommends ffmpeg')
    log('installing Debian\'s ffmpeg')
    subprocess.run(['apt-get', 'update', '-qq'], check=True)
    subprocess.run(['apt-get', 'install', '-y', '-qq', '--no-install-recommends', 'ffmpeg'], check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND='noninteractive'), stdout=subprocess.DEVNULL)


def main():
    args = parse_args()
    for tool in (args.velmora, args.sample):
        if not os.access(tool, os.X_OK):
            sys.exit(f'{tool}: not found; build it (cmake --preset native && cmake --build --preset native) '
                     'or give --velmora')
    need_ffmpeg()
    started = time.time()
    work = tempfile.mkdtemp(prefix='velmora-quality-')
    targets, results = Targets(), {}
    try:
        pngs = material.write_pictures(os.path.join(work, 'png'),
                                       sorted(set(args.level_pictures) | set(args.camera_pictures) |
                                              {material.SPEED_PICTURE[0]}))
        vel = runners.Velmora(args.velmora)
        small = material.sample_stream(args.sample, pngs[args.pictures[0]], os.path.join(work, 'small.y4m'),
                                       5, frames=3, size='64x48')
        vel.probe(small, os.path.join(work, 'probe.y4m'))
        print(f'Velmora quality benchmark{" (--quick)" if args.quick else ""}: {vel.version} ({args.velmora}), '
              f'{runners.ffmpeg_version()}, scikit-image {skimage.__version__}, numpy {np.__version__}')
        print('velmora features: ' + '; '.join(
            f'{f} ' + ('yes' if vel.has(f) else vel.why_not(f)) for f in vel.FEATURES))
        print('Luma PSNR gain = PSNR(output) − PSNR(noisy input), both against the clean picture; SSIM: '
              'luma, Gaussian window σ 1.5. CPU ms/frame: user + system time of the process, one '
              'thread, less that of the same tool passing the stream through unchanged (ffmpeg -vf '
              'null, velmora --sigma 0)')
        if 'pictures' not in args.skip:
            pictures_section(args, vel, args.sample, pngs, work, targets, results)
        if 'levels' not in args.skip:
            levels_section(args, vel, args.sample, pngs, work, targets, results)
        if 'camera' not in args.skip:
            camera_section(args, vel, pngs, work, targets, results)
        if 'clips' not in args.skip:
            clips_section(args, vel, work, targets, results)
        if 'speed' not in args.skip:
            speed_section(args, vel, args.sample, pngs, work, targets, results)
        print('\nTargets')
        for line in targets.lines:
            print('  ' + line)
        print(f'\nBenchmark time: {time.time() - started:.0f} s')
        if args.json:
            results['velmora'] = vel.version
            results['targets'] = targets.lines
            with open(args.json, 'w') as fh:
                json.dump(results, fh, indent=1)
    finally:
        if args.keep:
            log(f'scratch folder kept: {work}')
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
