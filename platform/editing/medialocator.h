/*
 * The media locator's search (medialocator.cpp), for the timeline and the render engine when their
 * caller gives no IMediaLocator of its own.
 */
#ifndef MEDIAPLATFORM_MEDIALOCATOR_H
#define MEDIAPLATFORM_MEDIALOCATOR_H

#include <windows.h>
#include "editing_services.h"

/* IMediaLocator::FindMediaFile of the platform's locator: S_OK where input says (or no
 * SFN_VALIDATEF_CHECK), S_FALSE found elsewhere (*output is the new name, free it), E_FAIL not found. */
HRESULT LocateMediaFile(const WCHAR *input, BSTR *output, LONG flags);

#endif
