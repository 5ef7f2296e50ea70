// The frei0r interface as the hosts declare it. The system header has no C linkage guard of its
// own, so it is wrapped here; every file of this front end includes it through this one.
#pragma once

extern "C" {
#include <frei0r.h>
}
