#!/usr/bin/python3
"""Sends key presses and clicks to the X server (XTEST), one command a line on stdin, and notes when
each was sent: a process that is already running and connected, so that on a busy machine the
time is not that of starting a program and opening a display.

  x_sender.py            commands: "key KEYSYM", "move X Y", "click" (button 1 where the pointer
                         is); after each, prints "BEFORE AFTER": the unix time just before the
                         request, and once the X server has handled it (XSync). What the X server
                         handled is in the program's queue, so the time from AFTER to the sound is
                         the program's and the sound server's, plus the X server delivering it.
"""
import ctypes
import sys
import time

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_ulong]


def main():
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("x_sender: no X display")
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        before = time.time()
        if words[0] == "key":
            code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(words[1].encode()))
            xtst.XTestFakeKeyEvent(display, code, 1, 0)
            xtst.XTestFakeKeyEvent(display, code, 0, 0)
        elif words[0] == "move":
            xtst.XTestFakeMotionEvent(display, -1, int(words[1]), int(words[2]), 0)
        elif words[0] == "click":
            xtst.XTestFakeButtonEvent(display, 1, 1, 0)
            xtst.XTestFakeButtonEvent(display, 1, 0, 0)
        else:
            sys.exit(f"x_sender: unknown command {words[0]}")
        x11.XSync(display, 0)
        print(f"{before:.6f} {time.time():.6f}", flush=True)


main()
