// Misuse is an error with a message, never a crash: null pointers, settings out of range,
// pictures of another shape, calls out of order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "tests/library/clip.h"

namespace library_test {
namespace {

// Stores any int in an enumeration, as a C caller may.
template <class E>
void store(E& e, int value) {
    std::memcpy(&e, &value, sizeof value);
}

TEST(LibraryMisuse, NullsAndSettingsOutOfRangeAreRefusedWithAMessage) {
    const velmora_format f = {64, 48, VELMORA_LAYOUT_420, 8};
    velmora_settings good;
    velmora_default_settings(&good);
    VelmoraDenoiser* d = nullptr;
    EXPECT_EQ(velmora_open(nullptr, &f, &good), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_open(&d, nullptr, &good), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_open(&d, &f, nullptr), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(d, nullptr);
    velmora_picture p = {};
    double sigma[3];
    EXPECT_EQ(velmora_send(nullptr, &p), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_receive(nullptr, &p), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_drain(nullptr), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_reset(nullptr), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_denoise_picture(nullptr, &p), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_measure_noise(nullptr, &p, sigma), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_levels_in_use(nullptr, 0, nullptr, nullptr), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_change_settings(nullptr, &good), VELMORA_ERROR_ARGUMENT);
    EXPECT_STREQ(velmora_last_error(nullptr), "");
    velmora_close(nullptr);
    velmora_close(&d);

    struct Case {
        const char* what;
        std::function<void(velmora_settings&, velmora_format&)> spoil;
        const char* says;
    };
    const Case cases[] = {
        {"width 0", [](velmora_settings&, velmora_format& g) { g.width = 0; }, "frame size"},
        {"too tall", [](velmora_settings&, velmora_format& g) { g.height = 16385; }, "frame size"},
        {"layout", [](velmora_settings&, velmora_format& g) { store(g.layout, 9); }, "layout"},
        {"9 bits", [](velmora_settings&, velmora_format& g) { g.bit_depth = 9; }, "bit depth"},
        {"mode", [](velmora_settings& s, velmora_format&) { store(s.mode, 2); }, "mode"},
        {"tracks in best mode",
         [](velmora_settings& s, velmora_format&) { s.strength = VELMORA_STRENGTH_TRACKS; },
         "exact mode"},
        {"view in best mode", [](velmora_settings& s, velmora_format&) { s.view_coefficients = 1; },
         "exact mode"},
        {"k", [](velmora_settings& s, velmora_format&) { s.k = -1; }, "k -1"},
        {"window", [](velmora_settings& s, velmora_format&) { s.measure_window = 0; }, "window"},
        {"radius", [](velmora_settings& s, velmora_format&) { s.temporal_radius = 9; }, "radius 9"},
        {"threads", [](velmora_settings& s, velmora_format&) { s.threads = -2; }, "thread count"},
        {"noise", [](velmora_settings& s, velmora_format&) { s.noise[2] = 300; }, "plane 2"},
        {"curve level",
         [](velmora_settings& s, velmora_format&) { s.noise_curve[1][4] = std::nan(""); },
         "plane 1's noise curve holds nan"},
        {"curve in exact mode",
         [](velmora_settings& s, velmora_format&) {
             s.mode = VELMORA_MODE_EXACT;
             s.noise_curve[0][0] = s.noise_curve[0][7] = 4;
         },
         "best mode"},
        {"track value",
         [](velmora_settings& s, velmora_format&) {
             s.mode = VELMORA_MODE_EXACT;
             s.strength = VELMORA_STRENGTH_TRACKS;
             s.tracks[0][3] = -1;
         },
         "track value"},
        {"learning box",
         [](velmora_settings& s, velmora_format&) {
             s.mode = VELMORA_MODE_EXACT;
             s.strength = VELMORA_STRENGTH_LEARN;
             s.learn_x = 10;
             s.learn_size = 60;
         },
         "the 60x60 learning box at 10,0 does not fit into the 64x48 picture"},
        {"log level", [](velmora_settings& s, velmora_format&) { store(s.log_level, 3); },
         "log level"},
        {"isa", [](velmora_settings& s, velmora_format&) { store(s.isa, -1); }, "instruction set"},
    };
    for (const Case& c : cases) {
        velmora_settings s = good;
        velmora_format g = f;
        std::string said;
        s.log = [](void* user, velmora_log_level level, const char* text) {
            if (level == VELMORA_LOG_ERROR) *static_cast<std::string*>(user) = text;
        };
        s.log_user = &said;
        c.spoil(s, g);
        EXPECT_EQ(velmora_open(&d, &g, &s), VELMORA_ERROR_ARGUMENT) << c.what;
        EXPECT_EQ(d, nullptr) << c.what;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.what << ": " << said;
        size_t bytes = 0;
        EXPECT_EQ(velmora_memory_needed(&g, &s, &bytes), VELMORA_ERROR_ARGUMENT) << c.what;
    }
}

TEST(LibraryMisuse, PicturesOfAnotherShapeAndCallsOutOfOrderAreRefused) {
    const velmora_format f = {64, 48, VELMORA_LAYOUT_420, 10};
    const velmora_settings s = settings_with(VELMORA_MODE_BEST, VELMORA_NOISE_MEASURED, 2);
    VelmoraDenoiser* d = nullptr;
    ASSERT_EQ(velmora_open(&d, &f, &s), VELMORA_OK);
    Clip clip = make_clip(f, 3, 5.0);
    struct Case {
        const char* what;
        std::function<void(velmora_picture&)> spoil;
        const char* says;
    };
    const Case cases[] = {
        {"8 bits", [](velmora_picture& p) { p.format.bit_depth = 8; }, "64x48 4:2:0 8-bit"},
        {"wider", [](velmora_picture& p) { p.format.width = 66; }, "66x48"},
        {"no plane", [](velmora_picture& p) { p.data[2] = nullptr; }, "plane 2 is missing"},
        {"short rows", [](velmora_picture& p) { p.stride[1] = 62; }, "plane 1 has a row stride"},
        {"odd stride", [](velmora_picture& p) { p.stride[0] = 129; }, "plane 0 has a row stride"},
        {"field order", [](velmora_picture& p) { store(p.field_order, 5); }, "field order"},
    };
    double sigma[3];
    for (const Case& c : cases) {
        velmora_picture p = clip.picture(0);
        c.spoil(p);
        EXPECT_EQ(velmora_send(d, &p), VELMORA_ERROR_ARGUMENT) << c.what;
        EXPECT_NE(std::string(velmora_last_error(d)).find(c.says), std::string::npos)
            << c.what << ": " << velmora_last_error(d);
        EXPECT_EQ(velmora_denoise_picture(d, &p), VELMORA_ERROR_ARGUMENT) << c.what;
        EXPECT_EQ(velmora_measure_noise(d, &p, sigma), VELMORA_ERROR_ARGUMENT) << c.what;
    }
    EXPECT_EQ(velmora_send(d, nullptr), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_receive(d, nullptr), VELMORA_ERROR_ARGUMENT);

    // Frames held: no still, no new settings; after the drain, no more frames.
    velmora_picture p = clip.picture(0);
    ASSERT_EQ(velmora_send(d, &p), VELMORA_OK);
    EXPECT_STREQ(velmora_last_error(d), "");
    p = clip.picture(1);
    EXPECT_EQ(velmora_denoise_picture(d, &p), VELMORA_ERROR_ORDER);
    EXPECT_EQ(velmora_change_settings(d, &s), VELMORA_ERROR_ORDER);
    ASSERT_EQ(velmora_drain(d), VELMORA_OK);
    EXPECT_EQ(velmora_send(d, &p), VELMORA_ERROR_ORDER);
    EXPECT_NE(std::string(velmora_last_error(d)).find("after the end of the stream"),
              std::string::npos);
    ASSERT_EQ(velmora_receive(d, &p), VELMORA_OK);
    EXPECT_EQ(velmora_receive(d, &p), VELMORA_AGAIN);
    // Received and reset: stills and settings again; the threads stay.
    ASSERT_EQ(velmora_reset(d), VELMORA_OK);
    velmora_settings more = s;
    more.threads = 3;
    EXPECT_EQ(velmora_change_settings(d, &more), VELMORA_ERROR_ARGUMENT);
    EXPECT_EQ(velmora_change_settings(d, &s), VELMORA_OK);
    p = clip.picture(2);
    EXPECT_EQ(velmora_denoise_picture(d, &p), VELMORA_OK);
    EXPECT_EQ(velmora_levels_in_use(d, 3, nullptr, nullptr), VELMORA_ERROR_ARGUMENT);
    velmora_close(&d);
    EXPECT_EQ(d, nullptr);
}

}  // namespace
}  // namespace library_test
