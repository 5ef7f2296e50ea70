// The filter window as the host makes it from the filter table, and the report of where the
// plug-in's child windows lie in it. Shared by the native stand-in host and the Windows host
// emulator, so that both print the same report.
#pragma once

#include <string>
#include <vector>

#include "sdk/aviutl_filter.h"

// The host's filter window: a tool window with a caption and a thin frame, the table's x, y
// its outer size, or its client area's size when FILTER_WINDOW_SIZE_CLIENT is set in them.
struct FilterWindowSize {
    int width;
    int height;
    bool client;  // width and height are the client area's
};

FilterWindowSize filter_window_size(const FILTER_DLL& table);

// The client area of such a window under Windows' classic metrics, which Wine uses by default:
// a 3-pixel frame and a 16-pixel small caption. For the stand-in host, which has no real frame.
void classic_client_size(const FilterWindowSize& size, long& width, long& height);

struct ChildPlacement {
    long id;
    long left, top, right, bottom;  // in the filter window's client coordinates
};

// "window client=WxH", then each child with "inside" or "clipped": whether it lies wholly
// inside the client area.
std::string layout_report(long client_width, long client_height,
                          const std::vector<ChildPlacement>& children);
