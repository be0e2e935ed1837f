/*
 * The settings of a capture filter: its formats (IAMStreamConfig, on the filter and on its capture pin)
 * and its picture controls (IAMVideoProcAmp, on the filter), and the gst-launch fragment that captures
 * with them. A capture filter has no VfW dialogs: IAMVfwCaptureDialogs is never answered.
 */
#ifndef MEDIAPLATFORM_CAMERA_H
#define MEDIAPLATFORM_CAMERA_H

#include "filters/catalog.h"

class Camera;

/* The settings of the capture device of entry (a v4l2 node, or the virtual camera when entry->device is
 * empty). filter and pin are the objects that hand out its interfaces: their reference counts are the
 * interfaces' counts, and the camera lives until CameraDestroy. NULL when out of memory. */
Camera *CameraCreate(const DeviceEntry *entry, IUnknown *filter, IUnknown *pin);
void CameraDestroy(Camera *camera);

/* QueryInterface of the filter and of its capture pin for what the camera adds; E_NOINTERFACE with
 * *out NULL for anything else. */
HRESULT CameraFilterInterface(Camera *camera, REFIID riid, void **out);
HRESULT CameraPinInterface(Camera *camera, REFIID riid, void **out);

/* The fragment, UTF-8, ending in raw BGR frames of the chosen size and rate (DirectShow's RGB24 byte
 * order), e.g. "videotestsrc is-live=true pattern=smpte ! video/x-raw,width=320,height=240,
 * framerate=15/1 ! videobalance ... ! videoconvert ! video/x-raw,format=BGR". E_OUTOFMEMORY when it does
 * not fit in size bytes. */
HRESULT CameraDescribe(Camera *camera, char *buffer, int size);

#endif
