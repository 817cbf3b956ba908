# A small GTK 3 program that copies what it is told to, the way GTK applications copy: through
# Gtk.Clipboard. It reads one command a line from its standard input and answers "ok" once the
# clipboard holds the content (or "error" when it could not):
#   text FILE     the file's UTF-8 text
#   image FILE    the image the file holds
#   quit
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib, Gdk, Gtk  # noqa: E402

clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)


def answer(word):
    sys.stdout.write(word + "\n")
    sys.stdout.flush()


def copy(command, path):
    if command == "text":
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
        clipboard.set_text(text, len(text.encode("utf-8")))
    elif command == "image":
        clipboard.set_image(GdkPixbuf.Pixbuf.new_from_file(path))
    else:
        return False
    return True


def on_input(source, condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    command, _, path = line.strip().partition(" ")
    if command == "quit":
        Gtk.main_quit()
        return False
    try:
        answer("ok" if copy(command, path) else "error")
    except Exception:  # a bad file: say so and keep serving
        answer("error")
    return True


GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
Gtk.main()
