#!/usr/bin/env python3
"""Writes the widgets of a panel file (a Qt Designer form) as C++: the records
that runtime/panel_layout.h makes a layout of. The core-only build has no XML
reader (that is Qt's), so its tests load gse.uir from this table, made from
the file itself at build time.

usage: builtin_panel.py FORM.ui OUT.cpp
"""
import sys
import xml.etree.ElementTree as ET


def records(root):
    """Each <widget>'s class, name and properties, in the order the widgets
    close (children first), as the panel file reader sees them: a property
    belongs to the nearest enclosing widget, and its text is the text of its
    elements, each piece trimmed, joined."""
    out = []

    def walk(elem, widget):
        if elem.tag == "widget":
            widget = {"cls": elem.get("class", ""), "name": elem.get("name", ""), "props": {}}
        for child in elem:
            if child.tag == "property" and widget is not None:
                widget["props"][child.get("name", "")] = "".join(t.strip() for t in child.itertext())
            else:
                walk(child, widget)
        if elem.tag == "widget":
            out.append(widget)

    walk(root, None)
    return out


def literal(text):
    """A C++ string literal of `text` in UTF-8, every byte outside printable
    ASCII as an octal escape."""
    out = []
    for b in text.encode("utf-8"):
        c = chr(b)
        if c in '"\\':
            out.append("\\" + c)
        elif 0x20 <= b < 0x7F:
            out.append(c)
        else:
            out.append("\\%03o" % b)
    return '"' + "".join(out) + '"'


def main():
    form, out_path = sys.argv[1], sys.argv[2]
    widgets = records(ET.parse(form).getroot())
    lines = [
        "// Made by tests/support/builtin_panel.py from " + form.replace("\\", "/").split("/")[-1] + ": do not edit.",
        '#include "support/builtin_panel.h"',
        "",
        "namespace testing_panel {",
        "",
        "std::vector<rt::WidgetRecord> builtin_gse_widgets() {",
        "  return {",
    ]
    for w in widgets:
        props = ", ".join("{%s, %s}" % (literal(k), literal(v)) for k, v in sorted(w["props"].items()))
        lines.append("      {%s, %s, {%s}}," % (literal(w["cls"]), literal(w["name"]), props))
    lines += ["  };", "}", "", "}  // namespace testing_panel", ""]
    with open(out_path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
