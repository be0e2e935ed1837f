// Feeds arbitrary text to the number fields: the property bar's image time of a selected still, at any
// zoom, and the settings' frame rate. What is stored must be a finite time above 0 and at most 24 hours,
// with a block of as many whole pixels as that time takes; a frame rate above 0 and at most 1000.
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include "sequora.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    char text[32];
    size_t n = size - 1 < sizeof text - 1 ? size - 1 : sizeof text - 1;
    memcpy(text, data + 1, n);
    text[n] = 0;

    itemCount = 1;
    selectedItem = 0;
    zoom = 1 + data[0] % 16;
    SetItemDefaults(&items[0]);
    SetSelectedImageTime(text);
    double t = items[0].imageTime;
    if (!isfinite(t) || !(t > 0) || t > MAX_ITEM_SECONDS) __builtin_trap();
    if (items[0].block.right - items[0].block.left != BlockWidth(&items[0]) && t != 5.0) __builtin_trap();
    if (BlockWidth(&items[0]) < 0) __builtin_trap();

    double fps = 15.0;
    ReadFrameRate(text, &fps);
    if (!(fps > 0 && fps <= MAX_FRAME_RATE)) __builtin_trap();
    return 0;
}
