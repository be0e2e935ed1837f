/* The filter a device-enumerator moniker binds to: an encoder, a transition or a capture source (filter.cpp). */
#ifndef MEDIAPLATFORM_FILTER_H
#define MEDIAPLATFORM_FILTER_H

#include "filters/interfaces.h"

/* The filter object of an entry (filter.cpp); outer: the aggregating object, or NULL (server/aggregate.h). */
HRESULT CreatePlatformFilter(const DeviceEntry *entry, IUnknown *outer, REFIID riid, void **out);

#endif
