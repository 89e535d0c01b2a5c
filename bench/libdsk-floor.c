/* The least work a listing of a collection can do through LibDsk: for each
 * image, dsk_open, dsk_getgeom, and dsk_pread of the boot sector and of the
 * 16 sectors after the first track (where a +3 or PCW directory lies), the
 * images split over one process per core. bench/run.sh measures
 * tarnlight-cli's collection walk against it.
 * Usage: libdsk-floor IMAGE... */
#include <stddef.h>
#include <libdsk.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

static int read_image(const char* path) {
    DSK_PDRIVER drive = NULL;
    DSK_GEOMETRY geometry;
    unsigned char sector[1024];
    if (dsk_open(&drive, path, NULL, NULL) != DSK_ERR_OK)
        return 1;
    int failed = dsk_getgeom(drive, &geometry) != DSK_ERR_OK || geometry.dg_sectors == 0 ||
                 geometry.dg_heads == 0 || geometry.dg_secsize > sizeof sector;
    if (!failed)
        failed = dsk_pread(drive, &geometry, sector, 0, 0, geometry.dg_secbase) != DSK_ERR_OK;
    for (unsigned s = 0; !failed && s < 16; ++s) {
        const unsigned track = 1 + s / geometry.dg_sectors;
        failed = dsk_pread(drive, &geometry, sector, track / geometry.dg_heads,
                           track % geometry.dg_heads,
                           geometry.dg_secbase + s % geometry.dg_sectors) != DSK_ERR_OK;
    }
    dsk_close(&drive);
    return failed;
}

int main(int argc, char** argv) {
    long workers = sysconf(_SC_NPROCESSORS_ONLN);
    if (workers < 1)
        workers = 1;
    for (long w = 0; w < workers; ++w) {
        const pid_t pid = fork();
        if (pid < 0)
            return 2;
        if (pid == 0) {
            int failures = 0;
            for (int i = 1 + (int)w; i < argc; i += (int)workers)
                failures += read_image(argv[i]);
            _exit(failures != 0);
        }
    }
    int status = 0, failed = 0;
    while (wait(&status) > 0)
        failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    return failed;
}
