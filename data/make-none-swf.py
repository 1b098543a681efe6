#!/usr/bin/env python3
"""Writes none.swf: the empty stage (550 x 400, neutral grey, one frame) the preview shows when
no item is selected. The checked-in none.swf is this script's output."""
import struct
import sys


def rect(width, height):
    nbits = 15
    bits = '{:05b}'.format(nbits) + ''.join('{:015b}'.format(v) for v in (0, width * 20, 0, height * 20))
    bits += '0' * ((8 - len(bits) % 8) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def main(path):
    body = rect(550, 400) + struct.pack('<HH', 12 * 256, 1)
    body += struct.pack('<H', (9 << 6) | 3) + b'\x80\x80\x80'  # SetBackgroundColor
    body += struct.pack('<H', 1 << 6) + struct.pack('<H', 0)    # ShowFrame, End
    with open(path, 'wb') as out:
        out.write(b'FWS\x06' + struct.pack('<I', 8 + len(body)) + body)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'none.swf')
