/* Feeds arbitrary bytes, as an AVI or a WAV file (the first byte chooses), to the media detector's look at
 * a file: it must neither crash nor hang, and what it tells must be sane (a few streams, lengths that are
 * finite and not below 0). */
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "glue/discover.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char path[2][64];
    struct discover_media media = {0};
    FILE *f;
    int kind;

    if (size < 1) return 0;
    kind = data[0] & 1;
    if (!path[kind][0]) snprintf(path[kind], sizeof(path[kind]), "/tmp/fuzz-mediadet-%d.%s", (int)getpid(),
                                 kind ? "wav" : "avi");
    if (!(f = fopen(path[kind], "wb"))) return 0;
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);
    if (discover_file(path[kind], 2000, &media) == DISCOVER_OK) {
        if (media.count < 0 || media.count > 64) abort();
        for (int i = 0; i < media.count; i++)
            if (!isfinite(media.streams[i].length) || media.streams[i].length < 0) abort();
    }
    discover_media_free(&media);
    return 0;
}
