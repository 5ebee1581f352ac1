#!/usr/bin/env python3
"""The layers of src/: an include may only point to the same layer or one below.

  check_layers.py includes SRC_DIR
      every #include "folder/..." in src/ against the layer table
  check_layers.py selftest
      both checks on a small tree with faults planted
  check_layers.py roots SRC_DIR COMPILE_COMMANDS
      every compile command of a file under src/ against the include folders it is given: none may
      make a folder of a higher layer includable (a library exports only its own folder)
"""
import json
import os
import re
import shlex
import sys

# Layer of each top folder of src/; higher layers may include lower ones, never the reverse.
LAYERS = {
    "app": 4, "cli": 4,                                                   # shell
    "pages": 3,                                                           # pages
    "ops": 2,                                                             # operations
    "zip": 1, "engines": 1, "tar": 1, "rar": 1, "images": 1, "codec": 1,  # components
    "formats": 1,
    "safeout": 0, "platform": 0, "core": 0,                               # ground
}
NAMES = {4: "shell", 3: "pages", 2: "operations", 1: "components", 0: "ground"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_EXT = (".h", ".hpp", ".cpp", ".cc", ".c", ".inc")


def top_folder(src, path):
    rel = os.path.relpath(path, src)
    return rel.split(os.sep)[0] if os.sep in rel else None


def layer_of(folder, where, problems):
    if folder not in LAYERS:
        problems.append(f"{where}: src/{folder} has no layer; add it to LAYERS in tests/layers/check_layers.py")
        return None
    return LAYERS[folder]


def check_includes(src):
    problems = []
    folders = {d for d in os.listdir(src) if os.path.isdir(os.path.join(src, d))}
    for folder in sorted(folders):
        layer_of(folder, "src", problems)
    for root, _, files in os.walk(src):
        for name in files:
            if not name.endswith(SOURCE_EXT):
                continue
            path = os.path.join(root, name)
            own = layer_of(top_folder(src, path), path, []) if top_folder(src, path) else None
            if own is None:
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or "/" not in m.group(1):
                        continue
                    if ".." in m.group(1).split("/"):
                        rel = os.path.relpath(path, os.path.dirname(src))
                        problems.append(f'{rel}:{number}: includes "{m.group(1)}": name headers from their '
                                        "top folder, not with ..")
                        continue
                    target = m.group(1).split("/")[0]
                    if target not in folders:
                        continue
                    theirs = LAYERS.get(target)
                    if theirs is not None and theirs > own:
                        rel = os.path.relpath(path, os.path.dirname(src))
                        problems.append(f'{rel}:{number}: includes "{m.group(1)}": the {NAMES[own]} layer '
                                        f"may not include the {NAMES[theirs]} layer ({target}/)")
    return problems


def include_dirs(command, directory):
    args = shlex.split(command)
    out = []
    i = 0
    while i < len(args):
        a = args[i]
        for flag in ("-I", "-isystem", "-iquote", "-idirafter"):
            if a == flag and i + 1 < len(args):
                out.append(args[i + 1])
                i += 1
                break
            if a.startswith(flag) and len(a) > len(flag) and flag == "-I":
                out.append(a[len(flag):])
                break
        i += 1
    return [p if os.path.isabs(p) else os.path.normpath(os.path.join(directory, p)) for p in out]


def check_roots(src, commands_file):
    problems = []
    with open(commands_file, encoding="utf-8") as f:
        commands = json.load(f)
    src = os.path.realpath(src)
    checked = 0
    for entry in commands:
        path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        if not path.startswith(src + os.sep):
            continue
        own = LAYERS.get(top_folder(src, path))
        if own is None:
            continue
        checked += 1
        command = entry.get("command") or " ".join(shlex.quote(a) for a in entry["arguments"])
        for d in include_dirs(command, entry["directory"]):
            for folder, theirs in LAYERS.items():
                if theirs > own and os.path.isdir(os.path.join(d, folder)) and \
                        os.path.realpath(os.path.join(d, folder)) == os.path.join(src, folder):
                    rel = os.path.relpath(path, os.path.dirname(src))
                    problems.append(f"{rel} is compiled with the include folder {d}, which lets the "
                                    f"{NAMES[own]} layer include {folder}/ (export folders with "
                                    f"tandor_export_folder, not ${{CMAKE_SOURCE_DIR}}/src)")
    if checked == 0:
        problems.append(f"{commands_file} lists no file under {src}")
    return problems


def self_test():
    """The checks on a small tree with one fault of each kind: each must be found."""
    import tempfile
    with tempfile.TemporaryDirectory() as top:
        src = os.path.join(top, "src")

        def write(rel, text):
            path = os.path.join(src, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        write("core/A.h", '#include "core/B.h"\n')
        write("pages/unzip/P.cpp", '#include "core/A.h"\n#include "ops/Job.h"\n#include "app/TandorForm.h"\n')
        write("zip/Z.cpp", '#include <vector>\n #  include "pages/common/Page.h"\n')
        write("ops/O.cpp", '#include "../app/X.h"\n#include "Local.h"\n')
        write("app/TandorForm.h", "")
        write("strange/S.h", "")
        found = check_includes(src)
        expected = ["src/pages/unzip/P.cpp:3:", "src/zip/Z.cpp:2:", "src/ops/O.cpp:1:", "src/strange has no layer"]
        missing = [e for e in expected if not any(e in p for p in found)]
        extra = [p for p in found if not any(e in p for e in expected)]
        os.makedirs(os.path.join(top, "roots", "pages"))
        os.symlink(os.path.join(src, "pages"), os.path.join(top, "roots", "pages", "pages"))
        commands = [
            {"directory": top, "file": "src/pages/unzip/P.cpp", "command": f"c++ -I{top}/roots/pages -c x"},
            {"directory": top, "file": "src/zip/Z.cpp", "command": f"c++ -I {top}/roots/pages -isystem /usr/include -c x"},
            {"directory": top, "file": "src/ops/O.cpp", "command": f"c++ -I{src} -c x"},
            {"directory": top, "file": "src/app/main.cpp", "command": f"c++ -I{src} -c x"},
        ]
        commands_file = os.path.join(top, "compile_commands.json")
        with open(commands_file, "w", encoding="utf-8") as f:
            json.dump(commands, f)
        roots = check_roots(src, commands_file)
        expected_roots = ["src/zip/Z.cpp is compiled", "src/ops/O.cpp is compiled"]
        missing += [e for e in expected_roots if not any(e in p for p in roots)]
        extra += [p for p in roots if not any(e in p for e in expected_roots)]
        for m in missing:
            print("not found:", m)
        for e in extra:
            print("found wrongly:", e)
        return missing + extra


def main(argv):
    if len(argv) >= 2 and argv[1] == "selftest":
        problems = self_test()
    elif len(argv) >= 3 and argv[1] == "includes":
        problems = check_includes(argv[2])
    elif len(argv) >= 4 and argv[1] == "roots":
        problems = check_roots(argv[2], argv[3])
    else:
        print(__doc__)
        return 2
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
