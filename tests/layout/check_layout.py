#!/usr/bin/env python3
"""The layout's directions, checked on the #include lines.

Each folder of the station opens with a README.md whose lines say what it
may include ("May include: link/ runtime/ui.h ...") and whether it may use Qt
("Qt: yes" or "Qt: no"). This check reads them and every #include of the
folder's sources, and fails on:
  - an include of a folder (or file) its README does not allow;
  - Qt in a folder whose README says "Qt: no";
  - rules no README may loosen: the system (app/, link/, display/) includes
    only runtime/ui.h, runtime/serial.h, ui/panel.h, its own folders and the
    standard library; Qt only in gui/, main/ and runtime/qt/; nothing
    includes main/; a Qt-free folder never includes gui/ or runtime/qt/;
  - a cycle between folders.

  check_layout.py SOURCE_DIR      check the tree
  check_layout.py --self-test     check that each rule catches its fault
"""
import os
import re
import sys
import tempfile

SYSTEM = {"app", "link", "display"}
SYSTEM_MAY_USE = {"runtime/ui.h", "runtime/serial.h", "ui/panel.h"}
QT_ALLOWED = {"gui", "main", "runtime/qt"}
CLIENTS = {"tests", "bench", "fuzz", "build", "cmake", "docs", "data", "dist", "scripts"}
SOURCE = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
QT_HEADER = re.compile(r"^(Q[A-Z]\w*|Qt\w*/.*|qcustomplot\.h|q[a-z]+\.h)$")
# The C and C++ standard library; anything else in angle brackets in the
# system is a platform or third-party header.
STANDARD = set("""
algorithm any array atomic bit bitset cassert cctype cerrno cfloat charconv chrono cinttypes
climits clocale cmath compare complex concepts condition_variable cstdarg cstddef cstdint
cstdio cstdlib cstring ctime cwchar deque exception filesystem format forward_list fstream
functional initializer_list iomanip ios iosfwd iostream istream iterator limits list locale
map memory mutex new numbers numeric optional ostream queue random ranges ratio regex set
shared_mutex span sstream stack stdexcept string string_view system_error thread tuple
type_traits typeinfo unordered_map unordered_set utility variant vector version
""".split())


def is_client(name):
    """A top-level folder outside the station's layout: the clients above,
    and any build tree (build*/, as .gitignore has it: build-win/ of the
    Windows check, build-bench/, ...)."""
    return name in CLIENTS or name.startswith("build")


def read_readme(path):
    """(allowed targets, qt) from a folder's README.md, or None."""
    if not os.path.isfile(path):
        return None
    allowed, qt = set(), None
    for line in open(path, encoding="utf-8"):
        if line.startswith("May include:"):
            allowed = {w for w in line[len("May include:"):].split() if not w.startswith("(")}
        elif line.startswith("Qt:"):
            qt = line[3:].strip().lower().startswith("yes")
    return allowed, qt


def folders_of(root):
    """The station's folders: every top-level folder with a README.md, and
    runtime/qt/ (the run-time's Qt back-ends) as one of its own."""
    found = {}
    for name in sorted(os.listdir(root)):
        if name.startswith(".") or is_client(name) or not os.path.isdir(os.path.join(root, name)):
            continue
        found[name] = read_readme(os.path.join(root, name, "README.md"))
    if os.path.isdir(os.path.join(root, "runtime", "qt")):
        found["runtime/qt"] = read_readme(os.path.join(root, "runtime", "qt", "README.md"))
    return found


def folder_of(path, folders):
    """The folder a repository path belongs to (the longest that matches)."""
    best = None
    for f in folders:
        if path == f or path.startswith(f + "/"):
            if best is None or len(f) > len(best):
                best = f
    return best


def allows(allowed, target_folder, target_path):
    return (target_folder + "/") in allowed or target_path in allowed


def check(root):
    """Returns the list of faults (empty when the layout holds)."""
    faults = []
    folders = folders_of(root)
    for f, readme in folders.items():
        if readme is None:
            faults.append(f"{f}/: no README.md saying what it may include")
        elif readme[1] is None:
            faults.append(f"{f}/README.md: no 'Qt:' line")
        elif readme[1] and f not in QT_ALLOWED:
            faults.append(f"{f}/README.md: Qt is allowed only in {', '.join(sorted(QT_ALLOWED))}")
    edges = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root)
        if rel_dir == ".":
            dirnames[:] = [d for d in dirnames if not is_client(d) and not d.startswith(".")]
            continue
        # npm's packages (web/node_modules) are not the station's code.
        dirnames[:] = [d for d in dirnames if d != "node_modules"]
        for name in sorted(filenames):
            if not name.endswith(SOURCE):
                continue
            rel = os.path.join(rel_dir, name).replace(os.sep, "/")
            src = folder_of(rel, folders)
            if src is None or folders.get(src) is None:
                continue
            allowed, qt = folders[src]
            for n, line in enumerate(open(os.path.join(dirpath, name), encoding="utf-8", errors="replace"), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                kind, target = m.groups()
                close = ">" if kind == "<" else '"'
                where = f"{rel}:{n}: #include {kind}{target}{close}"
                if kind == "<":
                    if QT_HEADER.match(target) and not qt:
                        faults.append(f"{where}: Qt in {src}/, which is Qt-free")
                    if src in SYSTEM and target not in STANDARD:
                        faults.append(f"{where}: the system uses the standard library only")
                    continue
                dst = folder_of(target, folders)
                if dst is None or dst == src:
                    continue
                edges.setdefault(src, {}).setdefault(dst, where)
                if dst == "main":
                    faults.append(f"{where}: nothing includes program start (main/)")
                elif src in SYSTEM and dst not in SYSTEM and target not in SYSTEM_MAY_USE:
                    faults.append(f"{where}: the system includes only {', '.join(sorted(SYSTEM_MAY_USE))}")
                elif dst in ("gui", "runtime/qt") and src not in QT_ALLOWED:
                    faults.append(f"{where}: a Qt-free folder includes {dst}/")
                elif not allows(allowed, dst, target):
                    faults.append(f"{where}: {src}/README.md does not allow {dst}/")
    faults += cycles(edges)
    return faults


def cycles(edges):
    """One fault per cycle between folders (depth-first search)."""
    faults, state, stack = [], {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(edges.get(node, {})):
            if state.get(nxt) == "open":
                loop = stack[stack.index(nxt):] + [nxt]
                lines = "; ".join(edges[a][b] for a, b in zip(loop, loop[1:]))
                faults.append(f"cycle {' -> '.join(loop)}: {lines}")
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            visit(node)
    return faults


def self_test():
    """Each rule catches its fault in a small tree made here."""
    base = {
        "present/README.md": "May include: (nothing)\nQt: no\n",
        "session/README.md": "May include: present/\nQt: no\n",
        "runtime/README.md": "May include: session/ present/\nQt: no\n",
        "runtime/qt/README.md": "May include: runtime/\nQt: yes\n",
        "ui/README.md": "May include: (nothing)\nQt: no\n",
        "app/README.md": "May include: link/ runtime/ui.h ui/panel.h\nQt: no\n",
        "link/README.md": "May include: runtime/ui.h\nQt: no\n",
        "gui/README.md": "May include: runtime/ session/ present/\nQt: yes\n",
        "main/README.md": "May include: app/ gui/ runtime/ runtime/qt/\nQt: yes\n",
        "present/limits.h": "#include <vector>\n",
        "session/log.h": '#include "present/limits.h"\n',
        "runtime/ui.h": "#include <cstdio>\n",
        "runtime/model.cpp": '#include "session/log.h"\n',
        "runtime/qt/port.cpp": '#include <QSerialPort>\n#include "runtime/ui.h"\n',
        "ui/panel.h": "",
        "app/entry.cpp": '#include "runtime/ui.h"\n#include "ui/panel.h"\n#include <cstdio>\n',
        "link/frame.cpp": '#include "runtime/ui.h"\n',
        "gui/window.cpp": '#include <QWidget>\n#include "runtime/ui.h"\n',
        "main/run.cpp": '#include "gui/window.h"\n#include "app/entry.h"\n',
    }
    faults_expected = {
        "Qt in a Qt-free folder": ("session/log.cpp", "#include <QString>\n", "Qt in session/"),
        "Qt in the system": ("link/reader.cpp", "#include <QFile>\n", "Qt in link/"),
        "the system beyond its headers": ("app/service.cpp", '#include "runtime/model.h"\n', "the system includes only"),
        "the system beyond the standard library": ("link/receiver.cpp", "#include <termios.h>\n", "standard library only"),
        "a Qt-free folder including gui/": ("runtime/ui.cpp", '#include "gui/window.h"\n', "a Qt-free folder includes gui/"),
        "a Qt-free folder including the Qt back-ends": ("session/x.cpp", '#include "runtime/qt/port.h"\n', "includes runtime/qt/"),
        "an edge the README does not allow": ("runtime/trace.cpp", '#include "app/entry.h"\n', "does not allow app/"),
        "including program start": ("gui/menus.cpp", '#include "main/run.h"\n', "nothing includes program start"),
        "a cycle": ("present/format.cpp", '#include "session/log.h"\n', "cycle"),
        "a folder without a README": ("stray/x.cpp", '#include "runtime/ui.h"\n', "no README.md"),
        "a README that allows Qt elsewhere": ("session/README.md", "May include: present/\nQt: yes\n",
                                              "Qt is allowed only in"),
        "a README without its Qt line": ("ui/README.md", "May include: (nothing)\n", "no 'Qt:' line"),
    }
    failed = []
    with tempfile.TemporaryDirectory() as root:
        def write(tree):
            for path, text in tree.items():
                full = os.path.join(root, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "w", encoding="utf-8") as out:
                    out.write(text)
        write(base)
        clean = check(root)
        if clean:
            failed.append("the clean tree: " + "; ".join(clean))
        for case, (path, text, expect) in faults_expected.items():
            write({path: text})
            faults = check(root)
            if not any(expect in f for f in faults):
                failed.append(f"{case}: not caught (faults: {faults})")
            if case == "a cycle":
                # Also allowed by the README, it is still a cycle.
                write({"present/README.md": "May include: session/\nQt: no\n"})
                if not any("cycle" in f for f in check(root)):
                    failed.append("a cycle the READMEs allow: not caught")
                write({"present/README.md": base["present/README.md"]})
            if path in base:
                write({path: base[path]})
            else:
                os.remove(os.path.join(root, path))
            if path.startswith("stray/"):
                os.rmdir(os.path.join(root, "stray"))
        # A build folder's files are no sources of the station.
        write({"build-win/gen/moc.cpp": "#include <QWidget>\n#include \"main/run.h\"\n"})
        if check(root):
            failed.append("a build folder: taken for sources: " + "; ".join(check(root)))
    for f in failed:
        print("self-test:", f)
    print("self-test:", "every rule catches its fault" if not failed else f"{len(failed)} rules failed")
    return 1 if failed else 0


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-test":
        return self_test()
    if len(argv) != 2:
        print(__doc__)
        return 2
    faults = check(argv[1])
    for f in faults:
        print(f)
    print(f"layout: {len(faults)} forbidden includes or cycles" if faults else "layout: every include follows the folders' directions")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
