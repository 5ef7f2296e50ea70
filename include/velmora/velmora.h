/* libvelmora: wavelet noise reduction for planar Y'CbCr video.
 *
 * A denoiser takes the frames of one stream in order and gives them back in order, filtered:
 *
 *     velmora_settings s;
 *     velmora_default_settings(&s);                 best mode, noise measured, temporal 3
 *     velmora_format f = {1920, 1080, VELMORA_LAYOUT_420, 8};
 *     VelmoraDenoiser* d;
 *     if (velmora_open(&d, &f, &s) != VELMORA_OK) ...
 *     for each frame:
 *         velmora_send(d, &picture);                lends the frame's planes to the denoiser
 *         while (velmora_receive(d, &done) == VELMORA_OK) write(done);
 *     velmora_drain(d);                             end of stream
 *     while (velmora_receive(d, &done) == VELMORA_OK) write(done);
 *     velmora_close(&d);
 *
 * The denoiser filters the planes it is lent in place: a picture sent stays the caller's memory,
 * which the caller leaves untouched until the picture comes back from velmora_receive (at most
 * velmora_latency() frames later). Results are bit-exact: the same bits for every thread count,
 * instruction set and platform.
 *
 * Every call that can fail returns a velmora_status; velmora_last_error() says what went wrong
 * in words. Calls on one denoiser are made from one thread at a time; any number of denoisers
 * work at once. Nothing is kept between denoisers.
 */
#ifndef VELMORA_VELMORA_H
#define VELMORA_VELMORA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VELMORA_API __attribute__((visibility("default")))
#else
#define VELMORA_API
#endif

#define VELMORA_VERSION_MAJOR 0
#define VELMORA_VERSION_MINOR 1
#define VELMORA_VERSION_PATCH 0

/* "MAJOR.MINOR.PATCH" of the library in use. */
VELMORA_API const char* velmora_version(void);

typedef enum velmora_status {
    VELMORA_OK = 0,
    /* Not an error: no picture is ready yet (send more, or drain at the end of the stream). */
    VELMORA_AGAIN = 1,
    VELMORA_ERROR_ARGUMENT = -1,   /* a null pointer, a value out of range, a wrong size */
    VELMORA_ERROR_ORDER = -2,      /* a call out of order, e.g. a frame sent after the drain */
    VELMORA_ERROR_MEMORY = -3,     /* out of memory */
    VELMORA_ERROR_RESOURCES = -4,  /* a worker thread could not be started */
    VELMORA_ERROR_UNSUPPORTED = -5 /* e.g. an instruction set this processor lacks */
} velmora_status;

/* A short name of the status: "ok", "out of memory", ... */
VELMORA_API const char* velmora_status_text(velmora_status status);

/* ---- Pictures ---------------------------------------------------------------------------- */

typedef enum velmora_layout {
    VELMORA_LAYOUT_420 = 0, /* chroma halved both ways */
    VELMORA_LAYOUT_422 = 1, /* chroma halved across */
    VELMORA_LAYOUT_444 = 2,
    VELMORA_LAYOUT_411 = 3, /* chroma quartered across */
    VELMORA_LAYOUT_MONO = 4 /* luma only */
} velmora_layout;

/* The frames of a stream: width x height luma samples of `bit_depth` bits (8, 10, 12 or 16;
 * deeper than 8 in 16-bit words, low bits first), up to 16384 x 16384. */
typedef struct velmora_format {
    int width;
    int height;
    velmora_layout layout;
    int bit_depth;
} velmora_format;

/* The size of plane p (0 = Y, 1 = Cb, 2 = Cr) of a format, and its subsampling as shifts: the
 * plane's width is the luma width >> shift_x, rounded up. */
typedef struct velmora_plane_shape {
    int width, height;
    int shift_x, shift_y;
} velmora_plane_shape;

/* 1 for VELMORA_LAYOUT_MONO, 3 otherwise; 0 for a format that is not valid. */
VELMORA_API int velmora_plane_count(const velmora_format* format);
VELMORA_API velmora_status velmora_plane_shape_of(const velmora_format* format, int plane,
                                                  velmora_plane_shape* shape);

typedef enum velmora_field_order {
    VELMORA_PROGRESSIVE = 0,     /* all lines sampled at one instant */
    VELMORA_TOP_FIELD_FIRST = 1, /* two fields: even lines first, then odd lines */
    VELMORA_BOTTOM_FIELD_FIRST = 2
} velmora_field_order;

/* One frame: its format (that of the denoiser it is sent to), its planes as the address of
 * sample (0, 0) and the bytes from one row to the next (a multiple of the sample size; at least
 * the plane's width in bytes). */
typedef struct velmora_picture {
    velmora_format format;
    void* data[3];
    ptrdiff_t stride[3];
    velmora_field_order field_order; /* of this frame: a stream may mix them */
    void* user;                      /* the caller's, given back with the picture */
} velmora_picture;

/* ---- Settings ---------------------------------------------------------------------------- */

typedef enum velmora_mode {
    /* The mean of four shifted transforms, each with a two-step Wiener shrink of its details;
     * needs only each plane's noise level. */
    VELMORA_MODE_BEST = 0,
    /* The plug-in's neighbourhood-masked thresholds, bit for bit: thresholds from noise levels
     * (k times the level), from track values, or learnt from a box of the picture. */
    VELMORA_MODE_EXACT = 1
} velmora_mode;

typedef enum velmora_isa {
    VELMORA_ISA_AUTO = 0, /* the widest this processor has */
    VELMORA_ISA_SCALAR = 1,
    VELMORA_ISA_SSE41 = 2,
    VELMORA_ISA_AVX2 = 3
} velmora_isa;

typedef enum velmora_log_level {
    VELMORA_LOG_ERROR = 0,  /* why a call failed */
    VELMORA_LOG_INFO = 1,   /* the noise levels measured, when they change */
    VELMORA_LOG_VERBOSE = 2 /* every measurement, and the levels in use for every frame */
} velmora_log_level;

/* A caller's worker threads: run(self, work, context) calls work(t, threads, context) once for
 * every t in 0 .. threads - 1, on any threads, and returns when all have returned. */
typedef void (*velmora_work_fn)(int t, int threads, void* context);
typedef struct velmora_executor {
    int threads;
    void (*run)(void* self, velmora_work_fn work, void* context);
    void* self;
} velmora_executor;

/* A plane's noise: VELMORA_NOISE_MEASURED, 0 (the plane stays untouched), or the standard
 * deviation in 8-bit sample steps (whatever the bit depth), up to 255. */
#define VELMORA_NOISE_MEASURED (-1.0)
/* The temporal radius that follows the mode: 3 in best mode, 0 in exact mode. */
#define VELMORA_TEMPORAL_FOR_MODE (-1)
#define VELMORA_MAX_TEMPORAL_RADIUS 8
/* Track values per plane: levels 0..4 (0 the finest) times orientations H, V, D. */
#define VELMORA_TRACKS 15
/* Bins of a noise curve: bin i holds the blocks of 8 x 8 samples whose brightness lies from 32 i
 * to 32 (i + 1) 8-bit steps (the format's samples scaled to 8 bits; the last bin all above). A
 * block's brightness is the mean of the luma samples it covers: a chroma plane's noise, like a
 * camera's, follows the light, not the colour its own samples hold. */
#define VELMORA_CURVE_BINS 8

typedef enum velmora_strength {
    VELMORA_STRENGTH_NOISE = 0,  /* from `noise` (exact mode: k times each level) */
    VELMORA_STRENGTH_TRACKS = 1, /* exact mode: `tracks` */
    VELMORA_STRENGTH_LEARN = 2   /* learnt from the `learn_*` box: exact mode its thresholds;
                                  * best mode each plane's noise level and the noise of each
                                  * detail band (put the box on a flat area: sky, a wall) */
} velmora_strength;

typedef struct velmora_settings {
    velmora_mode mode;
    velmora_strength strength;
    double noise[3];     /* per plane (Y, Cb, Cr) */
    double k;            /* exact mode: thresholds at k times the noise level */
    int measure_window;  /* measured noise: frames per measurement window */
    int measure_every;   /* ... a window starts every this many frames */
    int temporal_radius; /* frames before and after each frame averaged into it, 0..8 */
    /* Exact mode with VELMORA_STRENGTH_TRACKS: each plane's track values (all 0: untouched). */
    int32_t tracks[3][VELMORA_TRACKS];
    /* With VELMORA_STRENGTH_LEARN: the learn_size square at (learn_x, learn_y) of the luma
     * plane (exact mode: its position scaled into chroma planes, as the plug-in does; best mode:
     * the same part of the picture in every plane), on the first frame or on every frame (the
     * first field in time of an interlaced one). noise_factor applies in best mode. */
    int learn_x, learn_y, learn_size;
    int learn_every_frame;
    /* Exact mode: each plane's thresholded coefficients drawn as a picture instead. */
    int view_coefficients;
    int threads;               /* worker threads; 0: one per processor */
    velmora_executor executor; /* the caller's threads instead (run null: none) */
    velmora_isa isa;
    /* Messages up to `log_level`, with the caller's `log_user`; null: none. */
    void (*log)(void* user, velmora_log_level level, const char* message);
    void* log_user;
    velmora_log_level log_level;
    int64_t first_frame; /* the number messages give the first frame sent */
    /* Each plane's noise level, given or measured, is multiplied by this (0 to 16) before it is
     * used: 0 leaves the plane untouched and unmeasured. A measured level below half an 8-bit
     * step is no noise, whatever the factor. */
    double noise_factor[3];
    /* Measured noise where a window has no frame differences (one frame, a still, a picture
     * repeated): 0 corrects a level raised by fine texture with a second estimate (the kurtosis
     * of the picture's DCT channels); 1 takes the blocks of least detail as they are. */
    int texture_as_noise;
    /* Best mode: plane p's noise by brightness instead of one level (a camera's grows with the
     * light, or is worst in the shadows), in 8-bit steps per bin, darkest first; a bin of 0 or
     * less takes its nearest bin's level, and the levels are followed block by block between
     * the bins' middles. Used where two bins or more are above 0 (noise[p] then only has to
     * be other than 0, and noise_factor[p] applies); else noise[p] as it says. */
    double noise_curve[3][VELMORA_CURVE_BINS];
    int reserved[9]; /* zero */
} velmora_settings;

/* The defaults: best mode, every plane's noise measured over windows of 5 frames every 25 (with
 * the texture correction), noise factors 1, temporal radius following the mode, k = 3, a
 * 128 x 128 learning box at (0, 0), one thread per processor, the widest instruction set, no
 * messages. */
VELMORA_API void velmora_default_settings(velmora_settings* settings);

/* The temporal radius in effect: the mode's when it follows the mode, and 0 where frames are
 * filtered on their own (exact mode's track values and learning, the coefficient view). */
VELMORA_API int velmora_temporal_radius(const velmora_settings* settings);

/* ---- The stream denoiser ----------------------------------------------------------------- */

typedef struct VelmoraDenoiser VelmoraDenoiser;

/* A denoiser for frames of `format`. Its working memory is allocated as frames come. On
 * failure *denoiser is null and the message goes to the settings' log. */
VELMORA_API velmora_status velmora_open(VelmoraDenoiser** denoiser, const velmora_format* format,
                                        const velmora_settings* settings);
/* Frees the denoiser and sets *denoiser to null; pictures not yet received are the caller's. */
VELMORA_API void velmora_close(VelmoraDenoiser** denoiser);

/* What the last failed call on this denoiser said; "" when none failed. */
VELMORA_API const char* velmora_last_error(const VelmoraDenoiser* denoiser);

/* Frames a picture is held: the n-th picture sent comes back once n + latency have been sent,
 * or at the drain. */
VELMORA_API int velmora_latency(const VelmoraDenoiser* denoiser);

/* The next frame of the stream, lent until it comes back from velmora_receive. */
VELMORA_API velmora_status velmora_send(VelmoraDenoiser* denoiser, const velmora_picture* picture);
/* The next finished frame, in the order sent: VELMORA_AGAIN when none is ready. */
VELMORA_API velmora_status velmora_receive(VelmoraDenoiser* denoiser, velmora_picture* picture);
/* The stream has ended: every frame held is finished and can be received. */
VELMORA_API velmora_status velmora_drain(VelmoraDenoiser* denoiser);
/* Forgets the stream (a seek): frames held and not received are dropped unfiltered, and the
 * next frame sent starts a new stream, measured afresh. */
VELMORA_API velmora_status velmora_reset(VelmoraDenoiser* denoiser);

/* New settings for the frames from now on (an editor's keyframes): only between streams
 * (nothing held), and with the same threads, executor and instruction set as before. The
 * working memory is kept. */
VELMORA_API velmora_status velmora_change_settings(VelmoraDenoiser* denoiser,
                                                   const velmora_settings* settings);

/* A still: the picture filtered in place on its own, its noise measured on itself where the
 * settings measure it. Only between streams (nothing held). */
VELMORA_API velmora_status velmora_denoise_picture(VelmoraDenoiser* denoiser,
                                                   const velmora_picture* picture);

/* The noise of one picture on its own, per plane in 8-bit sample steps, measured as the
 * settings' texture_as_noise says (noise_factor not applied); -1 where nothing is measurable
 * (flat or clipped). The stream's measurements are not touched. */
VELMORA_API velmora_status velmora_measure_noise(VelmoraDenoiser* denoiser,
                                                 const velmora_picture* picture, double sigma[3]);

/* The noise levels (8-bit steps; 0: untouched) and, in exact mode, the track values of plane p
 * that filtered the last frame finished: learnt, measured or given. Track values are the
 * plug-in's, so a 16-bit plane's may have a fraction. */
VELMORA_API velmora_status velmora_levels_in_use(const VelmoraDenoiser* denoiser, int plane,
                                                 double* sigma, double tracks[VELMORA_TRACKS]);

/* A measured plane's noise as a function of brightness, from its last measurement window: the
 * picture's blocks of 8 x 8 samples are put in the VELMORA_CURVE_BINS bins by their brightness
 * (the mean of the luma samples they cover), and each bin's level is measured from its own
 * blocks as the plane's is from all of them. */
typedef struct velmora_noise_curve {
    double sigma[VELMORA_CURVE_BINS];     /* 8-bit steps; -1: too few blocks of that brightness */
    long long blocks[VELMORA_CURVE_BINS]; /* how many values each bin was measured from */
    long long first_frame, last_frame;    /* the window (frames counted as in the messages) */
} velmora_noise_curve;

/* The noise curve of plane p from the last window measured: VELMORA_AGAIN (and the curve
 * untouched) while the plane has not been measured, or when its level is given rather than
 * measured. */
VELMORA_API velmora_status velmora_measured_curve(const VelmoraDenoiser* denoiser, int plane,
                                                  velmora_noise_curve* curve);

/* A measured plane's noise in each detail band of best mode's transform, from its last
 * measurement window, relative to what white noise of the plane's level gives the band: factor
 * [level][orientation] multiplies the band's noise (standard deviation), levels 0 (finest) to
 * 4, orientations H, V and D. Demosaicing, compression and scaling leave less noise in the
 * finest bands and more in coarser ones. Levels 0 to 3 are measured on the window's frame
 * changes, within 0.5 to 2.5; a band with too few blocks (blocks 0) takes the finer level's,
 * level 4 takes level 3's, and the finest D band, which the plane's level is measured on, is 1.
 * A window of one frame measures them on its weakly textured blocks, and keeps them only where
 * the chroma planes' finest bands show the noise correlated and level 1 was measured (fine
 * texture reads as such noise in the coarser bands); otherwise all 1. Best mode filters with
 * them; exact mode does not. */
#define VELMORA_BAND_LEVELS 5
typedef struct velmora_noise_bands {
    double factor[VELMORA_BAND_LEVELS][3];
    long long blocks[VELMORA_BAND_LEVELS][3]; /* blocks of 4 x 4 coefficients measured on */
    long long first_frame, last_frame;        /* the window, as in velmora_noise_curve */
} velmora_noise_bands;

/* The band factors of plane p from the last window measured: VELMORA_AGAIN (and `bands`
 * untouched) when velmora_measured_curve would say so, or in exact mode. */
VELMORA_API velmora_status velmora_measured_bands(const VelmoraDenoiser* denoiser, int plane,
                                                  velmora_noise_bands* bands);

/* Bytes of working memory a denoiser of this format and settings needs at most, besides the
 * pictures lent to it. */
VELMORA_API velmora_status velmora_memory_needed(const velmora_format* format,
                                                 const velmora_settings* settings, size_t* bytes);

/* Memory for frame buffers, aligned to 64 bytes and in 2 MiB pages where the system offers
 * them (a 4K stream touches hundreds of megabytes of fresh buffers in its first frames);
 * null when none is left. Freed by velmora_free_buffer. */
VELMORA_API void* velmora_alloc_buffer(size_t bytes);
VELMORA_API void velmora_free_buffer(void* buffer);

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_VELMORA_H */
