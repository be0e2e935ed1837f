/* The count of the platform's live objects (lifetime.h). */
#include <windows.h>
#include "server/lifetime.h"

static LONG object_count;

void PlatformObjectCreated(void) { InterlockedIncrement(&object_count); }
void PlatformObjectDestroyed(void) { InterlockedDecrement(&object_count); }
long PlatformObjectCount(void) { return object_count; }
