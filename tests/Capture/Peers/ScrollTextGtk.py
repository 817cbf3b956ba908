# A GTK text view showing a text file in a monospaced font, the way any GTK application shows a
# long read-only text. Run by Debian's /usr/bin/python3 with python3-gi:
#   ScrollTextGtk.py 3|4 FILE     (the GTK major version)
import sys

import gi

gi.require_version("Gtk", sys.argv[1] + ".0")
from gi.repository import GLib, Gtk  # noqa: E402

text = open(sys.argv[2], encoding="utf-8").read()
view = Gtk.TextView()
view.set_monospace(True)
view.set_editable(False)
view.set_cursor_visible(False)
view.set_left_margin(8)  # text clear of the window's edges
view.set_top_margin(8)
view.get_buffer().set_text(text)
scrolled = Gtk.ScrolledWindow()
if sys.argv[1] == "3":
    scrolled.add(view)
    window = Gtk.Window(title="GTK text")
    window.add(scrolled)
    window.set_default_size(640, 560)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()
else:
    scrolled.set_child(view)
    loop = GLib.MainLoop()
    window = Gtk.Window(title="GTK text")
    window.set_child(scrolled)
    window.set_default_size(640, 560)
    window.connect("close-request", lambda *_: loop.quit())
    window.present()
    loop.run()
