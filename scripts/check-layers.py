#!/usr/bin/env python3
"""Checks that every include in the driver points down its layers.

The driver's folders are stacked in LAYERS, bottom first. A file may include
headers of its own folder and of folders on lower layers; folders on one
layer do not include each other. Host code (HOST_FOLDERS) sits above the whole
driver: it may include any driver folder, and no driver folder includes it.
Driver code names every header by its path from the tree's root.

    python3 scripts/check-layers.py [--root DIR]

Reads the tracked and untracked (not ignored) C++ files under DIR (default:
this tree). Exit status 0 when every include points down, 1 naming each one
that does not (file, line and the two folders), 2 on bad usage.
"""

import argparse
import os
import re
import subprocess
import sys

# Bottom first. A sub-folder (hw/x86, base/runtime) belongs to its folder.
LAYERS = (
    ("efi",),  # UEFI and PI declarations
    ("base",),  # driver-wide state, byte helpers, calling convention, compiler runtime
    ("hw", "print"),  # hardware seam and devices; the formatting engine and console print
    ("display", "trace"),  # pictures on the screen (uses print); the trace hub (uses hw)
    ("core",),  # entry point, event registration, notice decision, storage probe
)
HOST_FOLDERS = ("sim", "tests", "tools", "fuzz", "bench", "e2e")

SCRIPT = "scripts/check-layers.py"
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
LAYER_OF = {folder: index for index, folder_names in enumerate(LAYERS) for folder in folder_names}


def layer_name(index):
    return f"layer {index} ({', '.join(f + '/' for f in LAYERS[index])})"


class NotATree(Exception):
    pass


def source_files(root):
    """Every C++ file git knows or would add under root, as paths from root."""
    result = subprocess.run(
        ["git", "-C", root, "ls-files", "--cached", "--others", "--exclude-standard", "--", "*.cpp", "*.h"],
        capture_output=True,
        text=True,
    )
    if result.returncode != 0:
        raise NotATree(result.stderr.strip().splitlines()[-1] if result.stderr.strip() else "git ls-files failed")
    return sorted(set(path for path in result.stdout.splitlines() if os.path.exists(os.path.join(root, path))))


def folder_of(path):
    return path.split("/", 1)[0] if "/" in path else ""


def check_include(path, number, header):
    """The finding for one include line of a driver file, or None when it points down."""
    source = folder_of(path)
    target = folder_of(header)
    where = f"{path}:{number}"
    if target == source:
        return None
    if target in HOST_FOLDERS:
        return f"{where}: {source}/ includes {header} from {target}/, host code above the driver"
    if target not in LAYER_OF:
        return f"{where}: {source}/ includes {header}, which names no folder of the driver: give its path from the root"
    if LAYER_OF[target] == LAYER_OF[source]:
        return (
            f"{where}: {source}/ includes {header} from {target}/, a folder on its own "
            f"{layer_name(LAYER_OF[source])}: folders on one layer do not include each other"
        )
    if LAYER_OF[target] > LAYER_OF[source]:
        return (
            f"{where}: {source}/ includes {header} from {target}/, a higher layer "
            f"({source}/ is on {layer_name(LAYER_OF[source])}, {target}/ on {layer_name(LAYER_OF[target])})"
        )
    return None


def check_tree(root):
    """(findings, driver files read, includes read)."""
    files = source_files(root)
    findings = []
    folders_with_code = sorted(set(folder_of(path) for path in files))
    for folder in folders_with_code:
        if folder not in LAYER_OF and folder not in HOST_FOLDERS:
            shown = folder + "/" if folder else "the tree's root"
            findings.append(f"{shown} holds C++ code but is in no layer: add it to LAYERS or HOST_FOLDERS in {SCRIPT}")
    for folder in LAYER_OF:
        if folder not in folders_with_code:
            findings.append(f"{folder}/ is a layer folder without C++ code: remove it from LAYERS or restore it")

    driver_files = [path for path in files if folder_of(path) in LAYER_OF]
    includes = 0
    for path in driver_files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, start=1):
                match = INCLUDE.match(line)
                if match is None:
                    continue
                includes += 1
                finding = check_include(path, number, match.group(1))
                if finding is not None:
                    findings.append(finding)
    return findings, len(driver_files), includes


def main(argv):
    parser = argparse.ArgumentParser(description="Checks that every include in the driver points down its layers.")
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    args = parser.parse_args(argv)
    if not os.path.isdir(args.root):
        parser.error(f"--root {args.root} is not a folder")
    try:
        findings, file_count, include_count = check_tree(args.root)
    except NotATree as e:
        print(f"check-layers: cannot list the C++ files of {args.root}: {e}", file=sys.stderr)
        return 2
    for finding in findings:
        print(f"check-layers: {finding}", file=sys.stderr)
    if findings:
        print(
            f"check-layers: {len(findings)} finding(s): move the code to the layer it belongs on, "
            f"or include only folders below (the layers are in {SCRIPT} and CONTRIBUTING.md)",
            file=sys.stderr,
        )
        return 1
    print(f"check-layers: {include_count} includes in {file_count} driver files, each to its own folder or below")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
