// The project file's image: settings, item count and the 256 item records, as they lie in memory.
#pragma once
#include "sequora.h"

#define PROJECT_SETTINGS_SIZE 40
#define PROJECT_RECORD_SIZE 624
#define PROJECT_FILE_SIZE (PROJECT_SETTINGS_SIZE + 4 + MAX_ITEMS * PROJECT_RECORD_SIZE)  // 159,788
// A record's bytes up to its incoming slot, which reading leaves as it is.
#define PROJECT_RECORD_KEPT 364

// Takes settings, count and records from a file's bytes. False, with nothing written, when the bytes do
// not hold a whole project: shorter than the count needs, or a count outside 0..256. Records are read
// up to their incoming slots; records from the count on are not touched.
bool ReadProjectImage(const unsigned char *data, size_t size, OutputSettings *settings, int *count,
                      MediaItem *records);
