#!/usr/bin/python3
"""What a window manager does to top-level windows, on the display in DISPLAY.
x-windows.py list: the title of each window on show.
x-windows.py close TITLE: a close request (WM_DELETE_WINDOW) to each window with that title; status 1 if none."""
import sys
from Xlib import X, display, protocol

d = display.Display()
shown = [w for w in d.screen().root.query_tree().children if w.get_attributes().map_state == X.IsViewable]
titles = [(w, (w.get_full_text_property(d.intern_atom("_NET_WM_NAME")) or w.get_wm_name() or "")) for w in shown]
if sys.argv[1:] == ["list"]:
    print("\n".join(title for _, title in titles))
elif len(sys.argv) == 3 and sys.argv[1] == "close":
    targets = [w for w, title in titles if title == sys.argv[2]]
    for w in targets:
        data = (32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])
        w.send_event(protocol.event.ClientMessage(window=w, client_type=d.intern_atom("WM_PROTOCOLS"), data=data))
    d.flush()
    sys.exit(0 if targets else 1)
else:
    sys.exit("usage: x-windows.py list | x-windows.py close TITLE")
