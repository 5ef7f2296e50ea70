// velmora-frei0r-run: the tests' reference frei0r host. It loads a plug-in and passes raw RGBA
// frames through one instance, one call at a time, on one thread, frames in order; what a real
// host renders must equal this (a chain is one run per instance, so that nothing can pass
// between the instances). It also compares two raw RGBA files.
//
//   velmora-frei0r-run PLUGIN.so WxH IN.rgba OUT.rgba [INDEX=VALUE ...]
//       VALUE is a number for bool and double parameters and text for string ones
//   velmora-frei0r-run --compare A.rgba B.rgba
//       prints the PSNR over R, G and B ("inf" when equal) and whether alpha is the same; exits
//       0 when the files are equal, 1 when they differ, 2 when their sizes differ
#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frei0r/frei0r_api.h"

namespace {

std::vector<uint8_t> read_all(const char* path) {
    std::vector<uint8_t> data;
    if (FILE* f = std::fopen(path, "rb")) {
        uint8_t buffer[1 << 16];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            data.insert(data.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return data;
}

int compare(const char* a_path, const char* b_path) {
    const std::vector<uint8_t> a = read_all(a_path), b = read_all(b_path);
    if (a.empty() || a.size() != b.size() || a.size() % 4 != 0) {
        std::printf("sizes differ: %zu and %zu bytes\n", a.size(), b.size());
        return 2;
    }
    double sum = 0;
    size_t alpha = 0, differ = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        differ += d != 0;
        if (i % 4 == 3)
            alpha += d != 0;
        else
            sum += d * d;
    }
    const double mse = sum / double(a.size() / 4 * 3);
    if (mse == 0)
        std::printf("psnr inf");
    else
        std::printf("psnr %.3f", 10.0 * std::log10(255.0 * 255.0 / mse));
    std::printf(" differing_bytes %zu alpha_differing %zu\n", differ, alpha);
    return differ ? 1 : 0;
}

template <class F>
F bind(void* library, const char* name) {
    F f = reinterpret_cast<F>(dlsym(library, name));
    if (!f) {
        std::fprintf(stderr, "velmora-frei0r-run: %s is missing\n", name);
        std::exit(2);
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--compare") return compare(argv[2], argv[3]);
    unsigned w = 0, h = 0;
    if (argc < 5 || std::sscanf(argv[2], "%ux%u", &w, &h) != 2 || w == 0 || h == 0) {
        std::fprintf(stderr,
                     "usage: velmora-frei0r-run PLUGIN.so WxH IN.rgba OUT.rgba [I=V ...]\n"
                     "       velmora-frei0r-run --compare A.rgba B.rgba\n");
        return 1;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "velmora-frei0r-run: %s\n", dlerror());
        return 2;
    }
    const auto init = bind<int (*)()>(library, "f0r_init");
    const auto deinit = bind<void (*)()>(library, "f0r_deinit");
    const auto param_info = bind<void (*)(f0r_param_info_t*, int)>(library, "f0r_get_param_info");
    const auto construct = bind<f0r_instance_t (*)(unsigned, unsigned)>(library, "f0r_construct");
    const auto destruct = bind<void (*)(f0r_instance_t)>(library, "f0r_destruct");
    const auto set =
        bind<void (*)(f0r_instance_t, f0r_param_t, int)>(library, "f0r_set_param_value");
    const auto update =
        bind<void (*)(f0r_instance_t, double, const uint32_t*, uint32_t*)>(library, "f0r_update");

    if (init() != 1) return 2;
    f0r_instance_t instance = construct(w, h);
    for (int i = 5; i < argc; ++i) {
        const std::string a = argv[i];
        const size_t eq = a.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "velmora-frei0r-run: '%s' is not INDEX=VALUE\n", a.c_str());
            return 1;
        }
        const int index = std::atoi(a.substr(0, eq).c_str());
        const std::string value = a.substr(eq + 1);
        f0r_param_info_t info = {};
        param_info(&info, index);
        if (info.type == F0R_PARAM_STRING) {
            char* text = const_cast<char*>(value.c_str());
            set(instance, &text, index);
        } else {
            double v = std::strtod(value.c_str(), nullptr);
            set(instance, &v, index);
        }
    }
    FILE* in = std::fopen(argv[3], "rb");
    FILE* out = std::fopen(argv[4], "wb");
    if (!in || !out) {
        std::perror("velmora-frei0r-run");
        return 1;
    }
    const size_t n = size_t{w} * h;
    std::vector<uint32_t> a(n), b(n);
    long frames = 0;
    while (std::fread(a.data(), 4, n, in) == n) {
        update(instance, frames / 25.0, a.data(), b.data());
        if (std::fwrite(b.data(), 4, n, out) != n) return 1;
        ++frames;
    }
    destruct(instance);
    deinit();
    std::fclose(in);
    return std::fclose(out) == 0 && frames > 0 ? 0 : 1;
}
