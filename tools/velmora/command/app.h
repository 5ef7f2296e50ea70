// velmora's main program: options, input and output, the per-frame loop.
#pragma once

namespace velmora {

int velmora_main(int argc, char** argv);

}  // namespace velmora
