#include "standin/host_window.h"

#include <cstdio>

namespace {

// The size the host gives a filter window whose table asks for none.
constexpr int kDefaultWidth = 320;
constexpr int kDefaultHeight = 400;

}  // namespace

FilterWindowSize filter_window_size(const FILTER_DLL& table) {
    if ((table.flag & FILTER_FLAG_WINDOW_SIZE) == 0) return {kDefaultWidth, kDefaultHeight, false};
    const bool client = (table.x & FILTER_WINDOW_SIZE_CLIENT) != 0;
    return {table.x & ~FILTER_WINDOW_SIZE_ADD, table.y & ~FILTER_WINDOW_SIZE_ADD, client};
}

void classic_client_size(const FilterWindowSize& size, long& width, long& height) {
    constexpr int kFrame = 3, kSmallCaption = 16;
    width = size.client ? size.width : size.width - 2 * kFrame;
    height = size.client ? size.height : size.height - 2 * kFrame - kSmallCaption;
}

std::string layout_report(long client_width, long client_height,
                          const std::vector<ChildPlacement>& children) {
    char line[160];
    std::snprintf(line, sizeof line, "window client=%ldx%ld\n", client_width, client_height);
    std::string text = line;
    for (const ChildPlacement& c : children) {
        const bool inside = c.left >= 0 && c.top >= 0 && c.right <= client_width &&
                            c.bottom <= client_height && c.left < c.right && c.top < c.bottom;
        std::snprintf(line, sizeof line, "child id=%ld %s\n", c.id, inside ? "inside" : "clipped");
        text += line;
    }
    return text;
}
