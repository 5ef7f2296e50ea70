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
# further photographs, for the one-frame --auto levels only
LEVEL_PICTURES = {
    'brick': 'brick.png',           # 512x512 grey texture
    'cell': 'cell.png',             # 660x550 grey microscopy
    'hubble': 'hubble_deep_field.jpg',  # 872x1000 colour, mostly dark
    'ihc': 'ihc.png',               # 512x512 colour microscopy
    'motorcycle': 'motorcycle_right.png',  # 740x500 colour
    'retina': 'retina.jpg',         # 1411x1411 colour
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
    files = dict(PICTURES, **LEVEL_PICTURES)
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


# ----------------------------------------------------------------------------------- camera noise
#
# Noise as a camera makes it: in linear light each RGB channel gets noise of variance a x + b (x the
# channel's linear value in 0..1: photon shot noise and read noise), mildly correlated between
# neighbouring samples as demosaicing correlates it (a small blur, the noise's variance kept); then
# the sRGB transfer curve, BT.601 limited-range Y'CbCr and 4:2:0 (2 x 2 means), rounded half up to
# 8 bits. The clean reference is the same path without the noise.

# ISO: (a, b). Luma noise at mid grey is about 2.5, 5 and 10 8-bit steps, more in the shadows.
CAMERA_ISO = {'low': (1.0e-3, 2.0e-5), 'mid': (4.0e-3, 1.0e-4), 'high': (1.6e-2, 4.0e-4)}
_KR, _KB = 0.299, 0.114


def srgb_to_linear(v):
    v = np.clip(v, 0.0, 1.0)
    return np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)


def linear_to_srgb(x):
    x = np.clip(x, 0.0, 1.0)
    return np.where(x <= 0.0031308, 12.92 * x, 1.055 * x ** (1 / 2.4) - 0.055)


def rgb_to_420(rgb):
    """RGB in 0..255 (float, even sides) to [Y, Cb, Cr] uint8 planes, 4:2:0."""
    r, g, b = rgb[..., 0], rgb[..., 1], rgb[..., 2]
    yv = _KR * r + (1 - _KR - _KB) * g + _KB * b
    y = 16 + yv * 219 / 255
    cb = 128 + (b - yv) / (2 * (1 - _KB)) * 224 / 255
    cr = 128 + (r - yv) / (2 * (1 - _KR)) * 224 / 255

    def down(p):
        return (p[0::2, 0::2] + p[1::2, 0::2] + p[0::2, 1::2] + p[1::2, 1::2]) / 4

    return [np.clip(np.floor(p + 0.5), 0, 255).astype(np.uint8) for p in (y, down(cb), down(cr))]


def rgb_from_420(planes):
    """[Y, Cb, Cr] uint8 4:2:0 planes to RGB in 0..255 (float; chroma repeated 2 x 2)."""
    y = (planes[0].astype(np.float64) - 16) * 255 / 219
    h, w = y.shape
    up = [np.repeat(np.repeat(p.astype(np.float64), 2, 0), 2, 1)[:h, :w] for p in planes[1:]]
    pb = (up[0] - 128) * 255 / 224 * 2 * (1 - _KB)
    pr = (up[1] - 128) * 255 / 224 * 2 * (1 - _KR)
    r, b = y + pr, y + pb
    g = (y - _KR * r - _KB * b) / (1 - _KR - _KB)
    return np.clip(np.stack([r, g, b], -1), 0, 255)


def _demosaic_blur(n):
    """Half the noise kept, half blurred by [1 2 1] x [1 2 1] / 16, rescaled to its variance."""
    k = np.array([0.25, 0.5, 0.25])
    p = np.pad(n, ((1, 1), (1, 1), (0, 0)), mode='reflect')
    rows = k[0] * p[:-2] + k[1] * p[1:-1] + k[2] * p[2:]
    blur = k[0] * rows[:, :-2] + k[1] * rows[:, 1:-1] + k[2] * rows[:, 2:]
    kernel = 0.5 * np.outer(k, k)
    kernel[1, 1] += 0.5
    return (0.5 * n + 0.5 * blur) / np.sqrt((kernel ** 2).sum())


def camera_noise(rgb, iso, seed):
    """The clean picture (RGB 0..255, float) with camera noise of CAMERA_ISO[iso]: 4:2:0 planes."""
    a, b = CAMERA_ISO[iso]
    x = srgb_to_linear(rgb / 255.0)
    rng = np.random.Generator(np.random.PCG64(seed))
    n = _demosaic_blur(rng.standard_normal(x.shape))
    return rgb_to_420(255.0 * linear_to_srgb(x + n * np.sqrt(a * x + b)))


def camera_stream(rgb_frames, iso, seed, clean_path, noisy_path):
    """Writes the clean reference and the camera-noise stream (frame i: seed + i) of RGB frames;
    returns (clean frames, noisy frames)."""
    h, w = rgb_frames[0].shape[:2]
    header = f'YUV4MPEG2 W{w} H{h} F25:1 Ip A1:1 C420jpeg'
    clean = [rgb_to_420(f) for f in rgb_frames]
    noisy = [camera_noise(f, iso, seed + i) for i, f in enumerate(rgb_frames)]
    y4m.write(clean_path, header, clean)
    y4m.write(noisy_path, header, noisy)
    return clean, noisy
