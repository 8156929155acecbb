#!/usr/bin/env python3
"""scripts/mutate on a tiny file: which mutants it makes, and that a run reports the survivors
and leaves the file exactly as it was. Usage: mutate_script_test.py PATH/TO/scripts/mutate"""

import os
import subprocess
import sys
import tempfile

TINY = """int f(int x, int limit) {
    if (x < limit) return 0;
    for (int i = 0; i <= x; ++i) {
        if (i == 3) continue;
        x = x + 1;
    }
    // if (x < 1) return 2;
    const char* text = "a < b";  // as if (x < 1) return 2;
    return x;
}
"""

EXPECTED = """tiny.cpp:2: < -> <=: if (x <= limit) return 0;
tiny.cpp:2: limit -> limit - 1: if (x < limit - 1) return 0;
tiny.cpp:2: condition negated: if (!(x < limit)) return 0;
tiny.cpp:2: early exit removed: if (x < limit) {}
tiny.cpp:3: <= -> <: for (int i = 0; i < x; ++i) {
tiny.cpp:3: x -> x + 1: for (int i = 0; i <= x + 1; ++i) {
tiny.cpp:4: == -> !=: if (i != 3) continue;
tiny.cpp:4: condition negated: if (!(i == 3)) continue;
tiny.cpp:4: early exit removed: if (i == 3) {}
tiny.cpp:5: + 1 dropped: x = x;
"""


def main():
    tool = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as where:
        with open(os.path.join(where, "tiny.cpp"), "w") as f:
            f.write(TINY)
        listed = subprocess.run([tool, "--list", "tiny.cpp"], cwd=where, capture_output=True,
                                text=True, check=True).stdout
        assert listed == EXPECTED, "mutants:\n" + listed

        # The "tests" notice only a change to line 2.
        run = subprocess.run([tool, "tiny.cpp", "--build-command", "true", "--test-command",
                              "grep -qx '    if (x < limit) return 0;' tiny.cpp"],
                             cwd=where, capture_output=True, text=True)
        assert run.returncode == 1, run.stdout + run.stderr
        survivors = [row.strip() for row in run.stdout.splitlines() if row.startswith("  tiny")]
        assert survivors == EXPECTED.splitlines()[4:], run.stdout
        assert "Killed 4 of 10 mutants (40.0 %)" in run.stdout, run.stdout
        with open(os.path.join(where, "tiny.cpp")) as f:
            assert f.read() == TINY, "the file was not restored"


if __name__ == "__main__":
    main()
