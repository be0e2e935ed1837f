#!/usr/bin/env python3
"""Writes Sequora project files for the benchmarks.

    sequora_project.py OUT.sqp WIDTH HEIGHT FPS ITEM...

Each ITEM is KIND:PATH:START:LENGTH[:EFFECT:SPAN:FADE], times in seconds:
  movie  - a movie's picture shown from START for LENGTH (its whole length)
  still  - a picture shown from START for LENGTH; EFFECT is the transition's number (0: none), SPAN its
           share of the clip in per mille
  sound  - a sound from START for LENGTH; FADE per mille of its length where the fade-out starts (1000: none)
Output: stereo 16-bit 44.1 kHz, 24-bit pictures.
"""
import struct
import sys

VIDEO = bytes.fromhex('7669647300001000800000aa00389b71')
AUDIO = bytes.fromhex('6175647300001000800000aa00389b71')
MAX_ITEMS = 256


def dos(path):
    return 'Z:' + path.replace('/', '\\')


def record(kind, path, start, length, effect=0, span=300, fade=1000):
    streams = [(AUDIO if kind == 'sound' else VIDEO, 0.0 if kind == 'still' else length)]
    image = length if kind == 'still' else 5.0
    r = struct.pack('<q4ii', int(start * 10000000), 0, 0, 0, 0, len(streams)) + bytes(4)
    for stream, seconds in streams + [(bytes(16), 0.0)] * (2 - len(streams)):
        r += stream + struct.pack('<d', seconds)
    r += struct.pack('<iii', effect, span, fade) + bytes(4) + struct.pack('<d', image)
    return r + dos(path).encode().ljust(260, b'\0') + bytes(260)


def blank():
    return (struct.pack('<q4ii', 0, 0, 0, 0, 0, 0) + bytes(4) + bytes(48) + struct.pack('<iii', 0, 300, 1000)
            + bytes(4) + struct.pack('<d', 5.0) + bytes(520))


def main(argv):
    out, width, height, fps = argv[1], int(argv[2]), int(argv[3]), float(argv[4])
    items = []
    for spec in argv[5:]:
        kind, path, start, length, *rest = spec.split(':')
        items.append(record(kind, path, float(start), float(length), *(int(x) for x in rest)))
    if len(items) > MAX_ITEMS:
        sys.exit('at most %d items' % MAX_ITEMS)
    data = struct.pack('<7i', 0, 1, 1, 3, width, height, 1) + bytes(4) + struct.pack('<d', fps)
    data += struct.pack('<i', len(items)) + b''.join(items) + blank() * (MAX_ITEMS - len(items))
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv)
