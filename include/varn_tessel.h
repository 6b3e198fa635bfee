/* VarnTessel: author Super Audio CD disc images from DSF and DSDIFF files.
 * The library varn_tessel_core exports these two functions. */
#ifndef VARN_TESSEL_H
#define VARN_TESSEL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Runs the program on a command line (argv[0] is the program name; the
 * arguments are UTF-8) and returns its exit code: 0 success, 1 failure,
 * 2 verify could not read its files, 3 verify mismatch, -61 stopped at the
 * request of an in-process host. Options as in varntessel(1). */
int varn_tessel_main(int argc, char** argv);

/* Records whether the caller owns the process (owner != 0). While it does,
 * a run takes the first SIGINT or SIGTERM as a request to stop: it removes
 * what it has written, says so on standard error and returns 130 (143 for
 * SIGTERM); a second one ends the process. Otherwise the process's own
 * signal handling stays in charge. */
void varn_tessel_set_process_owner(int owner);

#ifdef __cplusplus
}
#endif

#endif
