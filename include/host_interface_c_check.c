/* Compiles the host interface as C on every build, so that its record layout checks run for each
 * target's pointer width even where no C host test is built. */
#include "plugin_host_interface.h"

/* ISO C wants at least one declaration in a translation unit. */
typedef int HostInterfaceCheckUnit;
