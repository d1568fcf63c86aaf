// Compiled against one layer's include root with LAYER_HEADER naming a header of
// a layer above it: the build must fail. With an allowed header it must succeed,
// so a failure means the include was refused, not that this file is broken.
#include LAYER_HEADER

int LayerCheck() { return 0; }
