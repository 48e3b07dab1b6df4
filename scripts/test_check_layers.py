#!/usr/bin/env python3
"""Checks that scripts/check-layers.py passes this tree and catches each kind
of wrong include, in small temporary trees laid out like the driver's.

    python3 scripts/test_check_layers.py
"""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(SCRIPTS, "check-layers.py")
ROOT = os.path.dirname(SCRIPTS)

# One file in each layer folder, each including only downwards.
BASE_TREE = {
    "efi/efi_types.h": "#pragma once\n#include <stdint.h>\n",
    "base/memory.h": '#pragma once\n#include "efi/efi_types.h"\n',
    "base/runtime/compiler_runtime.cpp": "#include <stddef.h>\n",
    "hw/tsc.h": '#pragma once\n#include "base/memory.h"\n',
    "hw/x86/hw_access_x86.cpp": '#include "hw/tsc.h"\n',
    "print/format_text.h": '#pragma once\n#include "efi/efi_types.h"\n',
    "display/notice_display.h": '#pragma once\n#include "print/format_text.h"\n#include "hw/tsc.h"\n',
    "trace/trace_setup.h": '#pragma once\n#include "hw/tsc.h"\n',
    "core/entry.cpp": '#include "trace/trace_setup.h"\n#include "display/notice_display.h"\n',
    "sim/platform.h": '#pragma once\n#include "core/entry.h"\n#include "efi/efi_types.h"\n#include "options.h"\n',
    "tests/core/entry_test.cpp": '#include "sim/platform.h"\n#include "tools/common/x.h"\n',
}


def run_check(root):
    return subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True)


class CheckLayersTest(unittest.TestCase):
    def check_tree(self, changes):
        """Runs the check on BASE_TREE with changes applied (a None content removes the file)."""
        files = dict(BASE_TREE)
        files.update(changes)
        with tempfile.TemporaryDirectory() as root:
            subprocess.run(["git", "init", "-q", root], check=True)
            for path, text in files.items():
                if text is None:
                    continue
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
            return run_check(root)

    def assert_findings(self, changes, *expected):
        result = self.check_tree(changes)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        for fragment in expected:
            self.assertIn(fragment, result.stderr)
        return result

    def test_this_tree_passes(self):
        result = run_check(ROOT)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertRegex(result.stdout, r"^check-layers: \d+ includes in \d+ driver files")

    def test_a_tree_that_includes_only_downwards_passes(self):
        result = self.check_tree({})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("check-layers: 9 includes in 9 driver files", result.stdout)

    def test_each_wrong_include_is_named_with_its_file_line_and_folders(self):
        cases = [
            # (file, its text, the finding's words)
            (
                "base/driver_state.h",
                '#pragma once\n#include "efi/efi.h"\n#include "core/driver.h"\n',
                "base/driver_state.h:3: base/ includes core/driver.h from core/, a higher layer "
                "(base/ is on layer 1 (base/), core/ on layer 4 (core/))",
            ),
            (
                "efi/efi.h",
                '#include "base/memory.h"\n',
                "efi/efi.h:1: efi/ includes base/memory.h from base/, a higher layer",
            ),
            (
                "hw/cmos.cpp",
                '  #  include "trace/trace_setup.h"  // comment\n',
                "hw/cmos.cpp:1: hw/ includes trace/trace_setup.h from trace/, a higher layer",
            ),
            (
                "hw/x86/port.cpp",
                '#include "display/notice_display.h"\n',
                "hw/x86/port.cpp:1: hw/ includes display/notice_display.h from display/, a higher layer",
            ),
            (
                "trace/trace_hooks.cpp",
                '#include "hw/tsc.h"\n#include "display/notice_display.h"\n',
                "trace/trace_hooks.cpp:2: trace/ includes display/notice_display.h from display/, a folder on "
                "its own layer 3 (display/, trace/): folders on one layer do not include each other",
            ),
            (
                "print/console_print.cpp",
                '#include "hw/tsc.h"\n',
                "print/console_print.cpp:1: print/ includes hw/tsc.h from hw/, a folder on its own layer 2",
            ),
            (
                "core/events.cpp",
                '#include "sim/platform.h"\n',
                "core/events.cpp:1: core/ includes sim/platform.h from sim/, host code above the driver",
            ),
            (
                "display/bmp_check.cpp",
                '#include "bmp_check.h"\n',
                "display/bmp_check.cpp:1: display/ includes bmp_check.h, which names no folder of the driver",
            ),
        ]
        for path, text, finding in cases:
            with self.subTest(path=path):
                result = self.assert_findings({path: text}, "check-layers: " + finding)
                self.assertIn("check-layers: 1 finding(s)", result.stderr)
                self.assertEqual(result.stdout, "")

    def test_every_wrong_include_is_named_not_only_the_first(self):
        result = self.assert_findings(
            {"efi/efi_types.h": '#include "base/memory.h"\n#include "core/entry.h"\n'},
            "efi/efi_types.h:1:",
            "efi/efi_types.h:2:",
        )
        self.assertIn("check-layers: 2 finding(s)", result.stderr)

    def test_an_include_inside_a_comment_or_with_angle_brackets_is_not_an_include_line(self):
        result = self.check_tree({"efi/efi_hob.h": '// #include "core/entry.h"\n#include <stddef.h>\n'})
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_a_folder_in_no_layer_and_a_layer_without_code_are_refused(self):
        self.assert_findings(
            {"gfx/blit.cpp": '#include "efi/efi_types.h"\n'},
            "gfx/ holds C++ code but is in no layer: add it to LAYERS or HOST_FOLDERS",
        )
        self.assert_findings(
            {"trace/trace_setup.h": None, "core/entry.cpp": '#include "display/notice_display.h"\n'},
            "trace/ is a layer folder without C++ code",
        )

    def test_a_root_that_is_no_folder_or_no_git_tree_is_a_usage_error(self):
        with tempfile.TemporaryDirectory() as root:
            for path, words in [
                (os.path.join(root, "missing"), "is not a folder"),
                (root, "cannot list the C++ files"),
            ]:
                with self.subTest(path=path):
                    result = run_check(path)
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertIn(words, result.stderr)


if __name__ == "__main__":
    unittest.main()
