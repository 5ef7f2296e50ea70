"""Running the filters of the quality benchmark: velmora (finding out which of its options the
given binary has) and ffmpeg's denoising filters, each timed (wall and CPU time of the process)."""
import os
import re
import subprocess
import tempfile
import time

FFMPEG = 'ffmpeg'


class Run:
    """What one process did: wall seconds, CPU seconds (user + system), exit code, stderr."""

    def __init__(self, wall, cpu, code, stderr):
        self.wall, self.cpu, self.code, self.stderr = wall, cpu, code, stderr

    def first_error_line(self):
        lines = [l for l in self.stderr.splitlines() if l.strip()]
        return lines[0] if lines else f'exit status {self.code}'


def timed(cmd, stdout=subprocess.DEVNULL):
    """Runs cmd and measures it; stdout goes to /dev/null unless given."""
    with tempfile.TemporaryFile() as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=stdout, stderr=err)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        text = err.read().decode('utf-8', 'replace')
    return Run(wall, usage.ru_utime + usage.ru_stime, p.returncode, text)


def ffmpeg_version():
    out = subprocess.run([FFMPEG, '-version'], capture_output=True, text=True).stdout.split()
    return f'ffmpeg {out[2]}' if len(out) > 2 else 'ffmpeg (version unknown)'


def ffmpeg_filter(vf, src, dst, threads=1):
    """ffmpeg with the filter chain vf from src to dst (4:2:0 Y4M; dst None: no output)."""
    out = ['-pix_fmt', 'yuv420p', '-f', 'yuv4mpegpipe', dst] if dst else ['-f', 'null', '-']
    return timed([FFMPEG, '-v', 'error', '-nostdin', '-y', '-threads', str(threads),
                  '-filter_threads', str(threads), '-i', src, '-vf', vf] + out)


class Velmora:
    """A velmora binary and the options it has.

    Modes: 'exact' (the masked thresholding; `--mode exact` where the binary has --mode, else
    plain `--sigma S --k 3`), 'best' (`--mode best`). Strength: a number (`--sigma S`) or 'auto'
    (`--auto`). Temporal: `--temporal R` on best mode; without it a mode runs alone (`--temporal 0`
    where the binary has --temporal, whose default may average frames). Each feature is taken as available when
    `velmora --help` names it and a run on a small stream accepts it; a feature that --help names
    but that fails on the small stream is reported as failed, not skipped."""

    FEATURES = ('exact', 'exact-auto', 'best', 'best-auto', 'temporal')

    def __init__(self, path):
        self.path = path
        self.help = subprocess.run([path, '--help'], capture_output=True, text=True).stdout
        self.version = subprocess.run([path, '--version'], capture_output=True,
                                      text=True).stdout.strip()
        self.has_mode = re.search(r'--mode\b', self.help) is not None
        self.has_temporal = re.search(r'--temporal\b', self.help) is not None
        self.state = {}  # feature: (True, '') or (False, why)

    def _advertised(self, feature):
        h = self.help
        mode_text = ''
        m = re.search(r'--mode\b', h)
        if m:  # the lines describing --mode (up to the next option line)
            mode_text = h[m.start():m.start() + 600]
        auto = re.search(r'--auto\b', h) is not None
        if feature == 'exact':
            return True, ''
        if feature == 'exact-auto':
            return auto, 'velmora --help has no --auto'
        if feature == 'best':
            return (self.has_mode and re.search(r'\bbest\b', mode_text) is not None,
                    'velmora --help has no --mode best')
        if feature == 'best-auto':
            ok, why = self._advertised('best')
            return (ok and auto), (why if not ok else 'velmora --help has no --auto')
        if feature == 'temporal':
            ok, why = self._advertised('best')
            t = re.search(r'--temporal\b', h) is not None
            return (ok and t), (why if not ok else 'velmora --help has no --temporal')
        raise KeyError(feature)

    def args(self, mode, strength, temporal=None, threads=1, quiet=True):
        a = [self.path, '--threads', str(threads), '--progress', 'never']
        if quiet:
            a.append('--quiet')
        if self.has_mode:
            a += ['--mode', mode]
        elif mode != 'exact':
            raise ValueError(f'velmora has no --mode {mode}')
        if strength == 'auto':
            a.append('--auto')
        else:
            a += ['--sigma', f'{strength:g}']
            if mode == 'exact':
                a += ['--k', '3']
        if temporal is not None:
            a += ['--temporal', str(temporal)]
        elif self.has_temporal:  # a mode alone: a velmora that averages by default is told not to
            a += ['--temporal', '0']
        return a

    def probe(self, small_stream, scratch):
        """Decides which features are there (see the class comment)."""
        tries = {
            'exact': ('exact', 2, None),
            'exact-auto': ('exact', 'auto', None),
            'best': ('best', 2, None),
            'best-auto': ('best', 'auto', None),
            'temporal': ('best', 2, 1),
        }
        for feature in self.FEATURES:
            ok, why = self._advertised(feature)
            if not ok:
                self.state[feature] = ('skipped', why)
                continue
            mode, strength, temporal = tries[feature]
            r = timed(self.args(mode, strength, temporal) + [small_stream, scratch])
            if r.code == 0:
                self.state[feature] = ('yes', '')
            else:
                self.state[feature] = ('failed', 'on a small stream: ' + r.first_error_line())

    def has(self, feature):
        return self.state.get(feature, ('failed', 'not probed'))[0] == 'yes'

    def status(self, feature):
        """('yes', ''), ('skipped', why) or ('failed', why)."""
        return self.state.get(feature, ('failed', 'not probed'))

    def why_not(self, feature):
        """A note for a row that cannot run: 'skipped: why' or 'FAILED: why'."""
        st, why = self.status(feature)
        return f'{"FAILED" if st == "failed" else st}: {why}'

    def run(self, mode, strength, src, dst, temporal=None, threads=1):
        return timed(self.args(mode, strength, temporal, threads, quiet=(strength != 'auto'))
                     + [src, dst])

    def passthrough(self, src, dst):
        """velmora with strength 0: the stream read and written unchanged (no transform), for
        the cost of the process itself."""
        return timed(self.args('exact', 0) + [src, dst])
