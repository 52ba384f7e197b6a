#!/usr/bin/env python3
"""Writes the X server's current pointer (XFixes) to the file given: "width height xhot yhot name" (name "-"
when the cursor has none), then one hexadecimal ARGB value (premultiplied) per pixel, rows top-down.
Exit code 1 if X cannot say."""
import ctypes
import ctypes.util
import os
import sys


class XFixesCursorImage(ctypes.Structure):
    _fields_ = [('x', ctypes.c_short), ('y', ctypes.c_short), ('width', ctypes.c_ushort),
                ('height', ctypes.c_ushort), ('xhot', ctypes.c_ushort), ('yhot', ctypes.c_ushort),
                ('cursor_serial', ctypes.c_ulong), ('pixels', ctypes.POINTER(ctypes.c_ulong)),
                ('atom', ctypes.c_ulong), ('name', ctypes.c_char_p)]


def main(path):
    x11 = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
    xfixes = ctypes.CDLL(ctypes.util.find_library('Xfixes') or 'libXfixes.so.3')
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(XFixesCursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        return 1
    image = xfixes.XFixesGetCursorImage(display)
    if not image:
        x11.XCloseDisplay(display)
        return 1
    c = image.contents
    pixels = ' '.join('%08x' % (c.pixels[i] & 0xFFFFFFFF) for i in range(c.width * c.height))
    with open(path + '.part', 'w') as f:
        name = (c.name or b'').decode('ascii', 'replace') or '-'
        f.write('%d %d %d %d %s\n%s\n' % (c.width, c.height, c.xhot, c.yhot, name, pixels))
    os.replace(path + '.part', path)  # the reader polls for the file: it must appear complete
    x11.XFree(image)
    x11.XCloseDisplay(display)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
