#!/usr/bin/env python3
"""tools/check-layers and tools/check-shape run on small made-up trees: what
they report, at which lines, and their exit statuses."""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")


def run(tool, root):
    done = subprocess.run([sys.executable, os.path.join(TOOLS, tool), root], capture_output=True, text=True)
    return done.returncode, done.stdout.splitlines()


class Tree:
    """A scratch checkout: files by relative path."""

    def __init__(self, files):
        self.folder = tempfile.TemporaryDirectory()
        for path, text in files.items():
            full = os.path.join(self.folder.name, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as handle:
                handle.write(textwrap.dedent(text))

    def __enter__(self):
        return self.folder.name

    def __exit__(self, *_):
        self.folder.cleanup()


def body(lines):
    """A function whose body spans `lines` lines, braces included."""
    return "void f() {\n" + "  x();\n" * (lines - 2) + "}\n"


class CheckLayers(unittest.TestCase):
    def test_a_clean_tree_passes_and_says_so(self):
        files = {
            "src/gpu.h": "#pragma once\n",
            "pipeline/spectral.h": '#include "src/gpu.h"\n',
            "pipeline/engine.h": '#include "pipeline/spectral.h"\n',
            "engine/job.cpp": '#include "pipeline/engine.h"\n#include "estimation/solve.h"\n',
            "estimation/solve.h": '#include "pipeline/spectral.h"\n',
            "include/velmora/velmora.h": '#include "engine/job.h"\n',
            "io/picture.cpp": '#include "include/velmora/velmora.h"\n',
            # Generated beside the includer by the build.
            "app/window.cpp": '#include "ui_window.h"\n#include "io/picture.h"\n',
        }
        with Tree(files) as root:
            status, out = run("check-layers", root)
        self.assertEqual(status, 0, out)
        self.assertEqual(out, ["check-layers: ok: 0 offending of 9 includes in 8 files"])

    def test_each_upward_include_is_listed_with_its_line(self):
        files = {
            "src/gpu.cpp": '#pragma once\n#include "pipeline/spectral.h"\n',
            "pipeline/spectral.h": "#pragma once\n",
            "pipeline/plan.cpp": '// #include "io/picture.h" in a comment is no include\n'
                                 '/*\n#include "io/picture.h"\n*/\n#include "estimation/solve.h"\n',
            "estimation/solve.h": '#include "pipeline/engine.h"\n',
            "pipeline/engine.h": "#pragma once\n",
            "io/picture.cpp": '#include "frontend/policy.h"\n',
            "frontend/policy.h": "#pragma once\n",
        }
        with Tree(files) as root:
            status, out = run("check-layers", root)
        self.assertEqual(status, 1)
        self.assertEqual(out[:-1], [
            'pipeline/plan.cpp:5: pipeline (1) includes "estimation/solve.h", estimation (2): a higher layer',
            'estimation/solve.h:1: estimation (2) includes "pipeline/engine.h", engine (3): a higher layer',
            'src/gpu.cpp:2: src (0) includes "pipeline/spectral.h", pipeline (1): a higher layer',
            'io/picture.cpp:1: io (4) includes "frontend/policy.h", frontend (5): a higher layer',
        ])
        self.assertEqual(out[-1], "check-layers: FAILED: 4 offending of 4 includes in 7 files")

    def test_front_ends_stay_apart_and_unknown_folders_are_refused(self):
        files = {
            "cli/main.cpp": '#include "app/document.h"\n#include "frontend/policy.h"\n',
            "app/document.h": '#include "cli/options.h"\n',
            "io/picture.cpp": '#include "tools/metrics.h"\n',
        }
        with Tree(files) as root:
            status, out = run("check-layers", root)
        self.assertEqual(status, 1)
        self.assertIn('cli/main.cpp:1: cli (6) includes "app/document.h", app (6): '
                      "a separate layer of the same level", out)
        self.assertIn('app/document.h:1: app (6) includes "cli/options.h", cli (6): '
                      "a separate layer of the same level", out)
        self.assertIn('io/picture.cpp:1: io (4) includes "tools/metrics.h", no layer: a file outside every layer', out)
        self.assertEqual(len(out), 4)


class CheckShape(unittest.TestCase):
    def test_function_length_counts_from_brace_to_brace(self):
        files = {
            "pipeline/at_limit.cpp": body(60),
            "pipeline/over.cpp": "// a comment\n" + body(61),
        }
        with Tree(files) as root:
            status, out = run("check-shape", root)
        self.assertEqual(status, 1)
        self.assertEqual(out, ["pipeline/over.cpp:2: function f of 61 lines (at most 60)",
                               "check-shape: FAILED: 1 offending in 2 files"])

    def test_braces_in_literals_and_comments_and_nested_bodies_count_with_the_function(self):
        text = (
            "namespace velmora {\n"
            "struct Solver {\n"
            "  Solver(int n) : n_(n), seen_{0} {\n"
            '    const char* open = "{{";  // }\n'
            "    /* } */ const char brace = '}';\n"
            '    const char* raw = R"x(}})x";\n'
            "    auto twice = [&](int v) {\n"
            "      struct Local { int a; };\n"
            "      return v * 2;\n"
            "    };\n"
            "    const long big = 1'000'000;\n"
            + "    n_ += twice(n);\n" * 52 +
            "  }\n"
            "  int n_, seen_;\n"
            "};\n"
            "}  // namespace velmora\n")
        with Tree({"io/solver.h": text}) as root:
            status, out = run("check-shape", root)
        self.assertEqual(status, 1)
        self.assertEqual(out[0], "io/solver.h:3: function Solver of 62 lines (at most 60)")

    def test_scopes_and_data_are_not_functions_but_their_members_are(self):
        table = "const int kTable[] = {\n" + "  1, {2}, 3,\n" * 80 + "};\n"
        shape = "enum class Shape {\n" + "  kA,\n" * 80 + "};\n"
        members = "class Many {\n public:\n" + "  int Get() const { return 1; }\n" * 80 + "};\n"
        long_member = "struct One {\n  int Sum() const {\n" + "    x();\n" * 60 + "  }\n};\n"
        files = {
            "estimation/data.cpp": "namespace a::b {\n" + table + shape + members + "}\n",
            "estimation/member.h": long_member,
        }
        with Tree(files) as root:
            status, out = run("check-shape", root)
        self.assertEqual(out[:-1], ["estimation/member.h:2: function Sum of 62 lines (at most 60)"])
        self.assertEqual(status, 1)

    def test_long_files_fail_and_tests_benchmarks_and_fuzzing_are_left_alone(self):
        files = {
            "cli/at_limit.cpp": "//\n" * 450,
            "cli/over.cpp": "//\n" * 451,
            "tools/tests/long.cpp": "//\n" * 900,
            "tests/long.cpp": "//\n" * 900,
            "bench/long.cpp": "//\n" * 900,
            "tools/check-something": "#\n" * 900,
        }
        with Tree(files) as root:
            status, out = run("check-shape", root)
        self.assertEqual(status, 1)
        self.assertEqual(out, ["cli/over.cpp:1: file of 451 lines (at most 450)",
                               "check-shape: FAILED: 1 offending in 2 files"])


if __name__ == "__main__":
    unittest.main()
