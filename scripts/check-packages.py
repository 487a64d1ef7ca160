#!/usr/bin/env python3
"""Checks that scripts/setup.sh installs everything the project runs.

    scripts/check-packages.py [--list]

Finds every external program (and every installed path such as
/usr/src/googletest) that the CMake files, toolchain files, presets, scripts,
test drivers and tools invoke, and fails unless each is on the list in scripts/setup.sh,
the one list of program -> Debian package that setup installs, or comes with
every Debian system (a package of priority "required"). Entries of the list are
checked too: each must be installed here from the package it names (or one
that package depends on). --list prints what was found, where.
"""
import json
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SETUP = os.path.join(ROOT, "scripts", "setup.sh")
# Where Debian's packages put programs; other installations (pyenv, /usr/local) don't count.
DEBIAN_BIN = ["/usr/bin", "/bin", "/usr/sbin", "/sbin"]

SHELL_WORDS = set("""if then else elif fi for in do done case esac while until function select time
    local export return set unset shift trap cd echo printf read source . eval true false test [ [[ wait kill
    exit break continue declare readonly type command builtin let : exec sudo env nohup nice setsid xargs
    timeout umask mapfile readarray pushd popd shopt getopts hash ulimit alias""".split())
# Words before the program in a shell command, with how many arguments they take.
PREFIXES = {"exec": 0, "sudo": 0, "command": 0, "env": 0, "nohup": 0, "setsid": 0, "nice": 0, "time": 0,
            "xargs": 0, "timeout": 1}
NAME = re.compile(r"^[A-Za-z0-9_][\w.+-]*$")
ABSOLUTE = re.compile(r"(?<![\w.])(/(?:usr|bin|sbin)/[\w./+-]*[\w+-])")


def project_files():
    """The repository's files (its checked-in ones, or all but the build's where git can't tell)."""
    listing = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True)
    if listing.returncode == 0:
        files = listing.stdout.split()
    else:
        files = []
        for folder, folders, names in os.walk(ROOT):
            folders[:] = [f for f in folders if f not in (".git", "build", "third_party", "__pycache__")]
            files += [os.path.relpath(os.path.join(folder, n), ROOT) for n in names]
    chosen = []
    for name in sorted(files):
        if name.startswith(("docs/", "res/")) or name.endswith((".cpp", ".h", ".c", ".in", ".md", ".png", ".pyc")):
            continue
        if name.endswith(".txt") and not name.endswith("CMakeLists.txt"):
            continue
        if name == "scripts/check-packages.py":  # names programs as data
            continue
        chosen.append(name)
    return chosen


def kind_of(path):
    if path.endswith(("CMakeLists.txt", ".cmake")):
        return "cmake"
    if path.endswith(".json"):
        return "json"
    if path.endswith(".py"):
        return "python"
    if path.endswith(".sh"):
        return "shell"
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        first = f.readline()
    if first.startswith("#!"):
        return "python" if "python" in first else "shell"
    return None


def strip_comment(line, marker="#"):
    return re.sub(r"(^|\s)%s.*" % re.escape(marker), "", line)


class ShellScanner:
    """A small lexer of the shell that the project's scripts use, enough to tell
    which words are run as commands: quotes, $( ) and back-quotes, $(( )),
    arrays, case patterns, redirections and here-documents (a Python one is
    read as Python)."""

    def __init__(self, text, functions):
        self.text, self.i, self.line = text, 0, 1
        self.functions = functions
        self.found = []
        self.heredocs = []  # (delimiter, is Python) waiting for the end of the line

    def peek(self, offset=0):
        j = self.i + offset
        return self.text[j] if j < len(self.text) else ""

    def advance(self, count=1):
        for _ in range(count):
            if self.peek() == "\n":
                self.line += 1
            self.i += 1

    def run(self):
        self.commands(None)
        return self.found

    def skip_single_quoted(self):
        self.advance()
        while self.peek() and self.peek() != "'":
            self.advance()
        self.advance()

    def double_quoted(self):
        """Skips a "..." string, scanning the commands substituted inside it."""
        self.advance()
        while self.peek() and self.peek() != '"':
            if self.peek() == "\\":
                self.advance(2)
            elif self.peek() == "$" and self.peek(1) == "(":
                self.substitution()
            elif self.peek() == "`":
                self.advance()
                self.commands("`")
            else:
                self.advance()
        self.advance()

    def skip_balanced(self):
        """At "(": skips to after its matching ")" (arithmetic, not commands)."""
        depth = 0
        while self.peek():
            depth += {"(": 1, ")": -1}.get(self.peek(), 0)
            self.advance()
            if depth == 0:
                return

    def substitution(self):
        """At "$(": a command substitution, or "$((" arithmetic."""
        self.advance()
        if self.peek(1) == "(":
            self.skip_balanced()
            return
        self.advance()
        self.commands(")")

    def word(self):
        """Reads one word; returns its text with quotes removed (substitutions left out)."""
        out = []
        while self.peek() and self.peek() not in " \t\n;&|()<>`":
            c = self.peek()
            if c == "'":
                start = self.i + 1
                self.skip_single_quoted()
                out.append(self.text[start:self.i - 1])
            elif c == '"':
                start = self.i + 1
                self.double_quoted()
                out.append(self.text[start:self.i - 1])
            elif c == "\\":
                out.append(self.peek(1))
                self.advance(2)
            elif c == "$" and self.peek(1) == "(":
                self.substitution()
                out.append("$()")
            else:
                out.append(c)
                self.advance()
        return "".join(out)

    def read_heredocs(self):
        for delimiter, python in self.heredocs:
            body = []
            while self.peek():
                end = self.text.find("\n", self.i)
                end = len(self.text) if end < 0 else end
                line, number = self.text[self.i:end], self.line
                self.i = end
                self.advance()
                if line.strip() == delimiter:
                    break
                body.append((number, line))
            if python:
                self.found += python_programs(body)
        self.heredocs = []

    def commands(self, end):
        expect, skip_next, in_case, pattern, first = True, 0, 0, False, None
        while self.peek():
            c = self.peek()
            if c == end:
                self.advance()
                return
            if c == "\n":
                self.advance()
                if self.heredocs:
                    self.read_heredocs()
                expect, first = not pattern, None
                if in_case and not pattern and self.text[self.i - 3:self.i - 1] == ";;":
                    pattern = True
                continue
            if c in " \t" or (c == "\\" and self.peek(1) == "\n"):
                self.advance(2 if c == "\\" else 1)
                continue
            if c == "#" and (self.i == 0 or self.text[self.i - 1] in " \t\n;"):
                while self.peek() and self.peek() != "\n":
                    self.advance()
                continue
            if c == ";" and self.peek(1) == ";":
                self.advance(2)
                pattern, expect = bool(in_case), not in_case
                continue
            if c in ";&|":
                self.advance(2 if self.peek(1) == c else 1)
                expect, first = True, None
                continue
            if c == "(" and self.peek(1) == "(":  # (( arithmetic ))
                self.skip_balanced()
                continue
            if c == "(":
                self.advance()
                self.commands(")")
                expect = False
                continue
            if c == ")":  # a case pattern's end, or a stray one
                self.advance()
                pattern, expect = False, True
                continue
            if c == "`":
                self.advance()
                self.commands("`")
                continue
            if c in "<>":
                here = c == "<" and self.peek(1) == "<" and self.peek(2) != "<"
                while self.peek() in ("<", ">", "&", "-") and self.peek():
                    self.advance()
                while self.peek() in " \t":
                    self.advance()
                target = self.word()
                if here:
                    self.heredocs.append((target, first == "python3"))
                continue
            text = self.word()
            if not text:
                self.advance()
                continue
            if self.peek() == "(" and re.match(r"^\w+\+?=$", text):
                self.advance()  # an array: words, not commands
                depth = 1
                while self.peek() and depth:
                    depth += {"(": 1, ")": -1}.get(self.peek(), 0)
                    if self.peek() == '"':
                        self.double_quoted()
                    else:
                        self.advance()
                continue
            if self.peek() == "(" and self.peek(1) == ")":
                self.advance(2)  # a function's definition
                continue
            if pattern:
                if text == "esac":
                    in_case, pattern = in_case - 1, False
                continue
            if text == "case":
                in_case += 1
                expect = False
                continue
            if text == "in" and in_case and not pattern and first is None:
                pattern = True
                continue
            if skip_next:
                skip_next -= 1
                continue
            if not expect:
                continue
            if re.match(r"^\w+\+?=", text) or (text.isdigit() and self.peek() in "<>"):
                continue
            if text in PREFIXES:
                skip_next = PREFIXES[text]
                continue
            if text.startswith("-") and first in PREFIXES:
                continue
            expect = text in ("then", "do", "else", "elif", "if", "while", "until", "!", "{", "}", "time")
            if expect:
                continue
            first = text
            if text not in SHELL_WORDS and text not in self.functions and (NAME.match(text) or
                                                                           text.startswith("/")):
                self.found.append((self.line, text))


def shell_programs(lines, functions):
    """Words in command position, and absolute paths anywhere."""
    found = []
    if lines and lines[0].startswith("#!"):
        words = lines[0][2:].split()
        found += [(1, w) for w in (words[1:2] if words and words[0].endswith("/env") else words[:1])]
    found += ShellScanner("\n".join(lines), functions).run()
    for number, line in enumerate(lines, 1):
        found += [(number, path) for path in ABSOLUTE.findall(strip_comment(line))]
    return found


def python_programs(numbered_lines):
    """The first string of a command list, given to subprocess's calls or to a run(), or assigned to a
    cmd or command (["7zz", "a", ...]); and absolute paths."""
    found = []
    command = r"(?:\b(?:subprocess\.\w+|run|Popen)\(|\b\w*(?:cmd|command)\s*=)\s*\[\s*[\"']([^\"']+)[\"']\s*[,\]]"
    for number, raw in numbered_lines:
        line = strip_comment(raw)
        for match in re.finditer(command, line):
            found.append((number, match.group(1)))
        if "sys.executable" in line and re.search(r"\[\s*sys\.executable", line):
            found.append((number, "python3"))
        found += [(number, path) for path in ABSOLUTE.findall(line)]
    return found


def cmake_programs(lines):
    found = []
    for number, raw in enumerate(lines, 1):
        line = strip_comment(raw)
        for pattern in (r"\bCOMMAND\s+([^\s)$\"]+)", r"set\(CMAKE_(?:C|CXX|RC)_COMPILER\s+([^\s)]+)",
                        r"find_program\(\s*\w+\s+(?:NAMES\s+)?([\w.+-]+)"):
            found += [(number, m) for m in re.findall(pattern, line)]
        found += [(number, path) for path in ABSOLUTE.findall(line)]
    return found


def invoked():
    """{program or path: [file:line, ...]} over the project's files."""
    files = [(path, kind_of(path)) for path in project_files()]
    functions = set()
    for path, kind in files:
        if kind == "shell":
            with open(os.path.join(ROOT, path), encoding="utf-8") as f:
                functions |= set(re.findall(r"^\s*(\w+)\(\)", f.read(), re.M))
    uses = {}
    for path, kind in files:
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        lines = text.splitlines()
        if kind == "shell":
            found = shell_programs(lines, functions)
        elif kind == "python":
            found = python_programs(list(enumerate(lines, 1)))
        elif kind == "cmake":
            found = cmake_programs(lines)
        elif kind == "json":
            found = [(0, p["generator"].lower()) for p in json.loads(text).get("configurePresets", [])
                     if p.get("generator") == "Ninja"]
        else:
            found = []
        for number, program in found:
            if "/" in program and not program.startswith("/"):
                continue  # the project's own scripts
            program = program.split("*")[0].rstrip("/")  # /usr/share/wine/fonts/*.ttf
            uses.setdefault(program, []).append("%s:%d" % (path, number))
    return uses


def locate(program):
    """Where Debian has `program` (a name or an absolute path), or None."""
    if program.startswith("/"):
        return program if os.path.exists(program) else None
    for folder in DEBIAN_BIN:
        path = os.path.join(folder, program)
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    return None


def candidates_of(path):
    """The names dpkg may know `path` by: as given, where its links lead, and /bin for /usr/bin."""
    names = [path, os.path.realpath(path)]
    for usr, merged in (("/usr/bin/", "/bin/"), ("/usr/sbin/", "/sbin/")):
        names += [n.replace(usr, merged, 1) for n in names if n.startswith(usr)]
    return names


class Dpkg:
    """What dpkg knows, asked once: owners of paths, and every installed package's fields."""

    def __init__(self, paths):
        names = sorted({n for p in paths for n in candidates_of(p)})
        result = subprocess.run(["dpkg-query", "-S"] + names, capture_output=True, text=True) if names else None
        self.owned = {}
        for line in (result.stdout.splitlines() if result else []):
            packages, _, where = line.rpartition(": ")
            self.owned[where] = [p.strip().split(":")[0] for p in packages.split(",")]
        fields = subprocess.run(["dpkg-query", "-W", "-f=${Package}\t${Priority}\t${Essential}\t${Depends}, "
                                 "${Pre-Depends}\n"], capture_output=True, text=True).stdout
        self.fields = {}
        for line in fields.splitlines():
            package, priority, essential, dependencies = (line.split("\t") + ["", "", ""])[:4]
            self.fields[package] = (priority == "required" or essential == "yes", {
                re.split(r"[\s(:]", alternative.strip())[0] for dependency in dependencies.split(",")
                for alternative in dependency.split("|") if alternative.strip()})

    def owners(self, path):
        for name in candidates_of(path):
            if name in self.owned:
                return self.owned[name]
        return []

    def comes_with_debian(self, package):
        return self.fields.get(package, (False, set()))[0]

    def depends(self, package):
        return self.fields.get(package, (False, set()))[1]


def read_table():
    """The list of program -> package in scripts/setup.sh (its PACKAGES here-document)."""
    with open(SETUP, encoding="utf-8") as f:
        text = f.read()
    body = re.search(r"<<'PACKAGES'[^\n]*\n(.*?)\nPACKAGES\n", text, re.S)
    table = {}
    for line in (body.group(1) if body else "").splitlines():
        words = line.split()
        if len(words) >= 2:
            table[words[0]] = (words[1], words[2:])
    return table


def runs_32bit():
    return os.path.exists("/usr/lib/wine/wine") and subprocess.run(
        ["/usr/lib/wine/wine", "--version"], capture_output=True).returncode == 0


def problems_of(table, uses):
    """What a fresh machine set up by scripts/setup.sh would lack, one line each."""
    wine32 = runs_32bit()
    wanted = [p for p, (_, flags) in table.items() if wine32 or "32bit" not in flags]
    located = {p: locate(p) for p in set(wanted) | {p for p in uses if p not in table}}
    dpkg = Dpkg([path for path in located.values() if path])
    problems = []
    for program, where in sorted(uses.items()):
        if program in table:
            continue
        path = located[program]
        if path is None:
            problems.append("%s (run by %s) is not installed here and not on the list in scripts/setup.sh"
                            % (program, where[0]))
            continue
        packages = dpkg.owners(path)
        if any(dpkg.comes_with_debian(p) for p in packages):
            continue
        installed = {package for package, _ in table.values()}
        problems.append("%s (run by %s) comes from package %s, %s: add it to the list in scripts/setup.sh" % (
            program, where[0], " or ".join(packages) or "(none)",
            "which setup installs, but the program is not listed" if set(packages) & installed
            else "which scripts/setup.sh does not install"))
    for program in sorted(wanted):
        package = table[program][0]
        if located[program] is None:
            problems.append("%s: on the list in scripts/setup.sh but not installed here (package %s)" % (program, package))
            continue
        packages = dpkg.owners(located[program])
        listed = package.split(":")[0]
        if listed not in packages and not (set(packages) & dpkg.depends(listed)):
            problems.append("%s comes from %s, not from %s as the list in scripts/setup.sh says"
                            % (program, " or ".join(packages) or "no package", package))
    return problems


def main():
    uses = invoked()
    if "--list" in sys.argv:
        for program in sorted(uses):
            print("%-40s %s" % (program, " ".join(sorted(set(uses[program]))[:4])))
        return 0
    problems = problems_of(read_table(), uses)
    for problem in problems:
        print("check-packages: " + problem, file=sys.stderr)
    if problems:
        return 1
    print("check-packages: %d programs and paths the project runs, all installed by scripts/setup.sh or part "
          "of every Debian system" % len(uses))
    return 0


if __name__ == "__main__":
    sys.exit(main())
