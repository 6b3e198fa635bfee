// The library's two exports.
#include "frontend/driver.h"
#include "frontend/host.h"
#include "varn_tessel.h"

#define VARN_EXPORT extern "C" __attribute__((visibility("default")))

VARN_EXPORT int varn_tessel_main(int argc, char** argv) { return varn::run_entry_point(argc, argv); }

VARN_EXPORT void varn_tessel_set_process_owner(int owner) { varn::set_process_owner(owner != 0); }
