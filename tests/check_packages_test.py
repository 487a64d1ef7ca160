"""scripts/check-packages.py: what it counts as a program run, and that a
package missing from the list in scripts/setup.sh fails the check, named.

python3 check_packages_test.py   (after scripts/setup.sh)"""
import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("check_packages", os.path.join(HERE, "..", "scripts",
                                                                            "check-packages.py"))
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)


class CheckPackagesTest(unittest.TestCase):
    def test_only_words_in_command_position_count_as_programs(self):
        script = r'''#!/usr/bin/env bash
# xdotool in a comment
packages=(
  cmake fonts-wine
)
out=$(7zz l "$1" | sed -n 's/x/y/p')
case "$1" in
  win64) VNK=/usr/lib/wine/wine64 ;;
  stop) exit 0 ;;
esac
echo "openssl in a string, $(curl -s x) in a substitution" 2>&1
python3 - "$x" <<'PY'
import subprocess
subprocess.run(["compare", "-metric", "AE"])
words = "import time"
PY
timeout 5 sudo env A=1 Xvfb :9 &
helper() { local n=$((1 + 2)); }
helper
'''
        found = [word for _, word in check.shell_programs(script.splitlines(), {"helper"})]
        self.assertEqual(sorted(set(found)), ["/usr/lib/wine/wine64", "7zz", "Xvfb", "bash", "compare", "curl",
                                              "python3", "sed"])

    def test_a_program_whose_package_setup_does_not_install_fails_the_check_by_name(self):
        table = check.read_table()
        uses = {"x86_64-w64-mingw32-g++-win32": ["tests/CMakeLists.txt:89"], "sed": ["scripts/setup.sh:30"]}
        self.assertEqual(check.problems_of({k: v for k, v in table.items()}, uses), [])
        del table["x86_64-w64-mingw32-g++-win32"]
        problems = check.problems_of(table, uses)
        self.assertEqual(len(problems), 1, problems)
        self.assertIn("x86_64-w64-mingw32-g++-win32 (run by tests/CMakeLists.txt:89) comes from package "
                      "g++-mingw-w64-x86-64-win32", problems[0])
        uses = {"no-such-tool": ["scripts/demo.sh:1"]}
        self.assertIn("no-such-tool (run by scripts/demo.sh:1) is not installed here",
                      check.problems_of(table, uses)[0])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
