/* Server lifetime: every object of the platform counts itself while it lives (DllCanUnloadNow). */
#ifndef MEDIAPLATFORM_LIFETIME_H
#define MEDIAPLATFORM_LIFETIME_H

void PlatformObjectCreated(void);
void PlatformObjectDestroyed(void);
/* Objects alive now. */
long PlatformObjectCount(void);

#endif
