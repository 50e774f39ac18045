#!/usr/bin/python3
"""Misbehaving X clients for the desktop tests, through libX11 directly.

Usage: x-client.py silent-owner   takes the CLIPBOARD selection and never answers a request
       x-client.py bare-window     maps a window with no WM_CLASS, no _NET_WM_PID, no name
Prints "ready" once set up, then runs until killed.
"""
import ctypes
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XCreateSimpleWindow.restype = ctypes.c_ulong
x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
    [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
x11.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("no display")
window = x11.XCreateSimpleWindow(display, x11.XDefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0)
if sys.argv[1] == "silent-owner":
    clipboard = x11.XInternAtom(display, b"CLIPBOARD", 0)
    x11.XSetSelectionOwner(display, clipboard, window, 0)
else:
    x11.XMapWindow(display, window)
x11.XSync(display, 0)
print("ready", window, flush=True)
# Never reads its events: requests for the selection go unanswered.
while True:
    time.sleep(60)
