// Feeds arbitrary file contents to the project loader: it must neither read out of bounds nor accept
// counts the table cannot hold.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include "projectimage.h"

static MediaItem records[MAX_ITEMS];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    OutputSettings settings;
    int count = -1;
    if (ReadProjectImage(data, size, &settings, &count, records)) {
        if (count < 0 || count > MAX_ITEMS) __builtin_trap();
        if (size < 44 + (size_t)count * 624) __builtin_trap();
    }
    return 0;
}
