/* A C program on the installed library: a noisy 4:2:0 stream through the stream denoiser with
 * the default settings, and a still through the one-picture call; each must come back in order
 * and cleaner than it went in. Exits 0 when all is well. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <velmora/velmora.h>

enum { W = 96, H = 64, FRAMES = 9 };

typedef struct {
    unsigned char y[W * H], cb[W * H / 4], cr[W * H / 4];
} frame;

static unsigned long long state = 12345;

/* Roughly Gaussian noise of standard deviation s: a sum of twelve uniform numbers. */
static double noise(double s) {
    double sum = 0;
    int i;
    for (i = 0; i < 12; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        sum += (double)(state >> 11) / 9007199254740992.0;
    }
    return (sum - 6.0) * s;
}

static unsigned char clamp(double v) {
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
}

static void draw(frame* f, int t, double sigma) {
    int x, y;
    for (y = 0; y < H; ++y)
        for (x = 0; x < W; ++x)
            f->y[y * W + x] =
                clamp(60 + 1.2 * x + 0.8 * y + 20 * sin((x + t) * 0.2) + noise(sigma));
    for (y = 0; y < H / 2; ++y)
        for (x = 0; x < W / 2; ++x) {
            f->cb[y * W / 2 + x] = clamp(128 + 0.5 * x + noise(sigma));
            f->cr[y * W / 2 + x] = clamp(120 + 0.5 * y + noise(sigma));
        }
}

static double luma_error(const frame* a, const frame* b) {
    double sum = 0;
    int i;
    for (i = 0; i < W * H; ++i) sum += (a->y[i] - b->y[i]) * (double)(a->y[i] - b->y[i]);
    return sum / (W * H);
}

static velmora_picture picture_of(frame* f) {
    velmora_picture p;
    memset(&p, 0, sizeof p);
    p.format.width = W;
    p.format.height = H;
    p.format.layout = VELMORA_LAYOUT_420;
    p.format.bit_depth = 8;
    p.data[0] = f->y;
    p.data[1] = f->cb;
    p.data[2] = f->cr;
    p.stride[0] = W;
    p.stride[1] = p.stride[2] = W / 2;
    p.field_order = VELMORA_PROGRESSIVE;
    p.user = f;
    return p;
}

static int fail(const char* what, VelmoraDenoiser* d) {
    fprintf(stderr, "c_program: %s: %s\n", what, d ? velmora_last_error(d) : "");
    return 1;
}

int main(void) {
    static frame clean[FRAMES], noisy[FRAMES], still_clean, still;
    velmora_format format = {W, H, VELMORA_LAYOUT_420, 8};
    velmora_settings settings;
    VelmoraDenoiser* d = NULL;
    velmora_picture p;
    double before = 0, after = 0;
    int sent, received = 0;

    velmora_default_settings(&settings);
    settings.threads = 2;
    if (velmora_open(&d, &format, &settings) != VELMORA_OK) return fail("open", d);
    for (sent = 0; sent < FRAMES; ++sent) {
        state = 1000 + (unsigned)sent;
        draw(&clean[sent], sent, 0);
        draw(&noisy[sent], sent, 6);
        before += luma_error(&clean[sent], &noisy[sent]);
        p = picture_of(&noisy[sent]);
        if (velmora_send(d, &p) != VELMORA_OK) return fail("send", d);
        while (velmora_receive(d, &p) == VELMORA_OK)
            if (p.user != &noisy[received++]) return fail("a frame out of order", NULL);
    }
    if (velmora_drain(d) != VELMORA_OK) return fail("drain", d);
    while (velmora_receive(d, &p) == VELMORA_OK)
        if (p.user != &noisy[received++]) return fail("a frame out of order", NULL);
    if (received != FRAMES) return fail("frames missing", NULL);
    for (sent = 0; sent < FRAMES; ++sent) after += luma_error(&clean[sent], &noisy[sent]);
    printf("stream (latency %d): luma error %.2f -> %.2f\n", velmora_latency(d), before / FRAMES,
           after / FRAMES);
    if (!(after < 0.5 * before)) return fail("the stream is not cleaner", NULL);

    draw(&still_clean, 0, 0);
    draw(&still, 0, 6);
    before = luma_error(&still_clean, &still);
    p = picture_of(&still);
    if (velmora_denoise_picture(d, &p) != VELMORA_OK) return fail("still", d);
    after = luma_error(&still_clean, &still);
    printf("still: luma error %.2f -> %.2f (velmora %s)\n", before, after, velmora_version());
    velmora_close(&d);
    return after < 0.7 * before && d == NULL ? 0 : fail("the still is not cleaner", NULL);
}
