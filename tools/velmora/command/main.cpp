#include "tools/velmora/command/app.h"

int main(int argc, char** argv) { return velmora::velmora_main(argc, argv); }
