#include "projectimage.h"
#include <string.h>

bool ReadProjectImage(const unsigned char *data, size_t size, OutputSettings *settings, int *count,
                      MediaItem *records)
{
    if (size < PROJECT_SETTINGS_SIZE + 4) return false;
    int stored;
    memcpy(&stored, data + PROJECT_SETTINGS_SIZE, 4);
    if (stored < 0 || stored > MAX_ITEMS) return false;
    const unsigned char *record = data + PROJECT_SETTINGS_SIZE + 4;
    if (size - (PROJECT_SETTINGS_SIZE + 4) < (size_t)stored * PROJECT_RECORD_SIZE) return false;

    memcpy(settings, data, PROJECT_SETTINGS_SIZE);
    *count = stored;
    for (int i = 0; i < stored; i++, record += PROJECT_RECORD_SIZE)
        memcpy(&records[i], record, PROJECT_RECORD_KEPT);
    return true;
}
