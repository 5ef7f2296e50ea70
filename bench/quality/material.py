"""Test material of the quality benchmark: pictures from python3-skimage's data folder, real
footage from Debian's opencv-doc package, and the noisy streams made from them with fixed seeds.

Pictures: RGB PNGs (grey pictures as R = G = B), the last odd row or column dropped, turned into
4:2:0 8-bit Y4M by velmora-sample (BT.601 limited range; Gaussian noise of S 8-bit steps on every
plane, seed 7000 + S).

Footage: `apt-get download opencv-doc`; only vtest.avi, Megamind.avi and box.mp4 (unzipped) are
kept, in CACHE/footage. Clips are cut from them with ffmpeg to 4:2:0 Y4M; the decoded frames are
the clean reference, and the noise (numpy PCG64, seed 1000 * sigma + frame index within the clip,
Gaussian, every plane, rounded half up and clamped to 0..255) is added here.
"""
import gzip
import os
import shutil
import subprocess
import sys

import numpy as np

import y4m

SKIMAGE_DATA = '/usr/lib/python3/dist-packages/skimage/data'

# name: file in skimage's data folder (all but the last odd row/column kept)
PICTURES = {
    'astronaut': 'astronaut.png',   # 512x512 colour
    'camera': 'camera.png',         # 512x512 grey
    'chelsea': 'chelsea.png',       # 451x300 colour -> 450x300
    'coffee': 'coffee.png',         # 600x400 colour
    'rocket': 'rocket.jpg',         # 640x427 colour -> 640x426
    'coins': 'coins.png',           # 384x303 grey -> 384x302
    'moon': 'moon.png',             # 512x512 grey
    'grass': 'grass.png',           # 512x512 grey texture
    'gravel': 'gravel.png',         # 512x512 grey texture
}
SPEED_PICTURE = ('motorcycle_left', 'motorcycle_left.png')  # 740x500, scaled to 1920x1080

PACKAGE = 'opencv-doc'
_DOC = './usr/share/doc/opencv-doc/'
FOOTAGE = {  # file kept in the cache: member of the package
    'vtest.avi': _DOC + 'examples/data/vtest.avi',        # MS-MPEG4 768x576 10 fps, still camera
    'Megamind.avi': _DOC + 'examples/data/Megamind.avi',  # MPEG-4 720x528 24 fps, scene cuts
    'box.mp4': _DOC + 'opencv4/html/box.mp4.gz',          # H.264 640x480 30 fps, fast motion
}
# clip name: (footage file, first frame, what it is)
CLIPS = {
    'vtest': ('vtest.avi', 100, 'still camera, people walking'),
    'box': ('box.mp4', 120, 'hand-held box, fast motion'),
    'megamind': ('Megamind.avi', 0, 'animation, camera moves, scene cuts'),
}


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def write_pictures(folder, names):
    """Writes NAME.png for each picture name (and the speed picture) into folder."""
    import skimage.io
    os.makedirs(folder, exist_ok=True)
    files = dict(PICTURES)
    files[SPEED_PICTURE[0]] = SPEED_PICTURE[1]
    paths = {}
    for name in names:
        a = skimage.io.imread(os.path.join(SKIMAGE_DATA, files[name]))
        if a.ndim == 2:
            a = np.stack([a] * 3, -1)
        a = a[:, :, :3]
        h, w = a.shape[0] & ~1, a.shape[1] & ~1
        path = os.path.join(folder, name + '.png')
        skimage.io.imsave(path, np.ascontiguousarray(a[:h, :w]), check_contrast=False)
        paths[name] = path
    return paths


def sample_stream(sample, png, out, sigma, frames=1, size=None):
    """velmora-sample: the picture as a 4:2:0 8-bit stream, noise sigma with seed 7000 + sigma."""
    cmd = [sample, '--image', png, '--frames', str(frames)]
    if size:
        cmd += ['--size', size]
    if sigma:
        cmd += ['--sigma', f'{sigma:g}', '--seed', str(7000 + int(sigma))]
    subprocess.run(cmd + [out], check=True, stdout=subprocess.DEVNULL)
    return out


def fetch_footage(cache):
    """The footage files in CACHE/footage, downloaded and extracted on first use. Returns
    (folder, package version)."""
    folder = os.path.join(cache, 'footage')
    version_file = os.path.join(folder, 'VERSION')
    if all(os.path.exists(os.path.join(folder, f)) for f in FOOTAGE) and os.path.exists(version_file):
        return folder, open(version_file).read().strip()
    os.makedirs(folder, exist_ok=True)
    tmp = os.path.join(folder, 'download')
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    log(f'fetching the footage: apt-get download {PACKAGE} (about 96 MB, once) into {folder}')
    if subprocess.run(['apt-get', 'download', PACKAGE], cwd=tmp).returncode != 0:
        log('apt-get download failed; running apt-get update and trying again')
        subprocess.run(['apt-get', 'update'], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(['apt-get', 'download', PACKAGE], cwd=tmp, check=True)
    deb = [f for f in os.listdir(tmp) if f.endswith('.deb')][0]
    deb = os.path.join(tmp, deb)
    version = subprocess.run(['dpkg-deb', '-f', deb, 'Version'], check=True, capture_output=True,
                             text=True).stdout.strip()
    tar = subprocess.Popen(['dpkg-deb', '--fsys-tarfile', deb], stdout=subprocess.PIPE)
    subprocess.run(['tar', '-x', '-C', tmp] + list(FOOTAGE.values()), stdin=tar.stdout, check=True)
    tar.stdout.close()
    if tar.wait() != 0:
        raise RuntimeError('dpkg-deb --fsys-tarfile failed')
    for name, member in FOOTAGE.items():
        src = os.path.join(tmp, member)
        if member.endswith('.gz'):
            with gzip.open(src, 'rb') as fi, open(os.path.join(folder, name), 'wb') as fo:
                shutil.copyfileobj(fi, fo)
        else:
            shutil.copyfile(src, os.path.join(folder, name))
    with open(version_file, 'w') as fh:
        fh.write(f'{PACKAGE} {version}\n')
    shutil.rmtree(tmp)
    return folder, f'{PACKAGE} {version}'


def cut_clip(footage, name, frames, out):
    """The clean clip: `frames` frames from the clip's first frame on, 4:2:0 Y4M."""
    src, first, _ = CLIPS[name]
    last = first + frames - 1
    # (the H.264 decoder reports "A non-intra slice in an IDR NAL unit" on box.mp4: harmless, so
    # ffmpeg's messages are shown only when it fails)
    r = subprocess.run(['ffmpeg', '-v', 'error', '-nostdin', '-y', '-i', os.path.join(footage, src),
                        '-vf', f'select=between(n\\,{first}\\,{last})', '-vsync', '0',
                        '-frames:v', str(frames), '-pix_fmt', 'yuv420p', '-f', 'yuv4mpegpipe', out],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f'ffmpeg could not cut {name} from {src}:\n{r.stderr}')
    header, clean = y4m.read(out)
    if len(clean) != frames:
        raise RuntimeError(f'{name}: {len(clean)} frames cut, {frames} wanted')
    return header, clean


def add_noise(frames, sigma):
    """Gaussian noise of sigma 8-bit steps on every plane, seed 1000 * sigma + frame index."""
    noisy = []
    for i, f in enumerate(frames):
        rng = np.random.Generator(np.random.PCG64(1000 * int(sigma) + i))
        noisy.append([np.clip(np.floor(p + rng.standard_normal(p.shape) * sigma + 0.5), 0, 255)
                      .astype(np.uint8) for p in f])
    return noisy
