// The client glue wayland-scanner writes as C, compiled as C++ in one unit: every interface is
// declared extern "C" by its header before the generated definition, so it links by its C name.
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

// The generated definitions ask for hidden visibility, which the headers' earlier declarations
// already settled; the warning about it says nothing here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
#include "wlr-layer-shell-unstable-v1-protocol.c"
#include "xdg-output-unstable-v1-protocol.c"
#include "xdg-shell-protocol.c"
#pragma GCC diagnostic pop
