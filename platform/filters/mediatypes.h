/*
 * What the platform's filters share about media types and pins: freeing and copying an AM_MEDIA_TYPE,
 * and the enumerators a pin hands out for its one preferred type and a filter for its pins.
 */
#ifndef MEDIAPLATFORM_MEDIATYPES_H
#define MEDIAPLATFORM_MEDIATYPES_H

#include <windows.h>
#include <dshow.h>

/* Frees the format block and the pUnk reference of *mt (not mt itself) and zeroes it. */
void FreeMediaType(AM_MEDIA_TYPE *mt);
/* A deep copy: its own format block and its own pUnk reference. On failure (E_OUTOFMEMORY) *dst holds
 * nothing to free. */
HRESULT CopyMediaType(AM_MEDIA_TYPE *dst, const AM_MEDIA_TYPE *src);

/* An IEnumMediaTypes over a copy of type, or over nothing when type is NULL (or cannot be copied). The
 * types it returns are deep copies the caller frees. */
HRESULT CreateMediaTypeEnum(const AM_MEDIA_TYPE *type, IEnumMediaTypes **out);

/* A filter's pins as a pin enumerator sees them. A filter that gains or loses pins while an enumerator is
 * out changes its version: the enumerator then reports VFW_E_ENUM_OUT_OF_SYNC until it is reset. */
class PinList
{
public:
    virtual ULONG PinListCount() = 0;
    virtual IPin *PinListItem(ULONG index) = 0;   /* no reference added */
    virtual LONG PinListVersion() { return 0; }

protected:
    ~PinList() {}
};

/* An IEnumPins over pins; owner (the object the pins belong to) is kept alive while the enumerator and
 * its clones live. */
HRESULT CreatePinEnum(IUnknown *owner, PinList *pins, IEnumPins **out);

#endif
