#include "projectimage.h"
#include <math.h>
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
    if (!(settings->fps > 0 && settings->fps <= MAX_FRAME_RATE)) settings->fps = 15.0;   // the start-up rate
    *count = stored;
    for (int i = 0; i < stored; i++, record += PROJECT_RECORD_SIZE) {
        MediaItem *item = &records[i];
        memcpy(item, record, PROJECT_RECORD_KEPT);
        // A file written elsewhere may hold anything: each name ends inside its field, and counts and
        // times stay within what the list and the timeline can hold.
        item->path[MAX_PATH - 1] = 0;
        if (item->streamCount < 0 || item->streamCount > 2) item->streamCount = 0;
        for (int k = 0; k < 2; k++) {
            double *length = &item->streams[k].length;
            if (!isfinite(*length) || *length < 0) *length = 0;
            if (*length > MAX_ITEM_SECONDS) *length = MAX_ITEM_SECONDS;
        }
        if (!isfinite(item->imageTime) || !(item->imageTime > 0)) item->imageTime = 5.0;
        if (item->imageTime > MAX_ITEM_SECONDS) item->imageTime = MAX_ITEM_SECONDS;
        if (item->start < 0) item->start = 0;
        if (item->start > MAX_ITEM_START) item->start = MAX_ITEM_START;
    }
    return true;
}
