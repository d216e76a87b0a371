#!/usr/bin/env python3
"""Binds X keysyms to spare key codes of the X server at $DISPLAY, for good.

    bind_keysyms.py KEYSYM...

A keysym that no key of the server's keyboard mapping gives (like "eacute"
on a US layout) is put on a key code without any keysym, through libX11's
XChangeKeyboardMapping (what xmodmap does). The mapping is then read back
over a connection of its own: the script prints "KEYSYM keycode N" for each
keysym and exits 0 only when every keysym is on a key.

Bound once before a window opens, the mapping stays the same while the
window reads keys. xdotool binds a missing keysym itself only for the moment
of its key press and then takes it back, which races the window reading it.
"""
import ctypes
import ctypes.util
import sys


def load_x11():
    # The library's usual name first: find_library may run the compiler,
    # which takes long on a busy machine.
    try:
        return ctypes.CDLL("libX11.so.6")
    except OSError:
        name = ctypes.util.find_library("X11")
        if not name:
            sys.exit("bind_keysyms: libX11 is not installed")
        return ctypes.CDLL(name)


x11 = load_x11()
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
x11.XDisplayKeycodes.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
x11.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
x11.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int, ctypes.POINTER(ctypes.c_int)]
x11.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                       ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XFree.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]


def open_display():
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("bind_keysyms: cannot open the X display (is DISPLAY set?)")
    return display


def keyboard_mapping():
    """{key code: [keysyms]} of the server, read over a new connection."""
    display = open_display()
    low, high, per = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    x11.XDisplayKeycodes(display, ctypes.byref(low), ctypes.byref(high))
    count = high.value - low.value + 1
    table = x11.XGetKeyboardMapping(display, low.value, count, ctypes.byref(per))
    mapping = {low.value + i: [table[i * per.value + j] for j in range(per.value)] for i in range(count)}
    x11.XFree(table)
    x11.XCloseDisplay(display)
    return mapping


def code_of(mapping, keysym):
    for code, syms in sorted(mapping.items()):
        if keysym in syms:
            return code
    return None


def main():
    names = sys.argv[1:]
    if not names:
        sys.exit("usage: bind_keysyms.py KEYSYM...")
    wanted = {}
    for name in names:
        keysym = x11.XStringToKeysym(name.encode())
        if keysym == 0:
            sys.exit("bind_keysyms: not a keysym: " + name)
        wanted[name] = keysym

    mapping = keyboard_mapping()
    spare = [code for code, syms in sorted(mapping.items(), reverse=True) if not any(syms)]
    display = open_display()
    for name, keysym in wanted.items():
        if code_of(mapping, keysym) is not None:
            continue
        if not spare:
            sys.exit("bind_keysyms: no spare key code left for " + name)
        code = spare.pop(0)
        x11.XChangeKeyboardMapping(display, code, 1, (ctypes.c_ulong * 1)(keysym), 1)
    x11.XSync(display, 0)
    x11.XCloseDisplay(display)

    mapping = keyboard_mapping()
    missing = []
    for name, keysym in wanted.items():
        code = code_of(mapping, keysym)
        if code is None:
            missing.append(name)
        else:
            print("%s keycode %d" % (name, code))
    if missing:
        sys.exit("bind_keysyms: not on any key after binding: " + " ".join(missing))


main()
