// The console program: hands its command line to the library.
#include <cstdio>
#include <cstring>

#include "varn_tessel.h"

int main(int argc, char** argv) {
  // -inproc-ctl-fn carries the address of a read function inside the
  // calling process; only an in-process host can give a valid one. From a
  // command line it would make the library call an arbitrary address.
  for (int i = 1; i < argc; ++i) {
    if (argv[i] && std::strcmp(argv[i], "-inproc-ctl-fn") == 0) {
      std::fprintf(stderr,
                   "Error: -inproc-ctl-fn is accepted only from an in-process host "
                   "(it names a function address inside the host); the console program refuses it\n");
      return 1;
    }
  }
  // The console program owns its process: Ctrl-C stops a run cleanly.
  varn_tessel_set_process_owner(1);
  return varn_tessel_main(argc, argv);
}
