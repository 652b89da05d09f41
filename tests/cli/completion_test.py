#!/usr/bin/env python3
"""quillmark-send's bash completion as bash runs it: an interactive bash on a terminal,
with bash-completion loaded, is typed a command line ending in TAB and then Enter. The
quillmark-send it finds on PATH lists outputs whose names hold ':' and, run with other
arguments, prints them one per line: what bash ran is what the completion made of the
line. usage: completion_test.py <completion script>"""
import os
import pty
import select
import sys
import tempfile
import time

LIST = ("0\tmidi-monitor:input (JACK)\n"
        "1\tMidi Through:Midi Through Port-0 (ALSA)\n"
        "2\trtp:session:port (JACK)\n"
        "3\tmidi-monitor:in2 (JACK)\n"
        "-1\tQuillmark virtual port\n")

# Typed line, then the arguments bash passes once TAB and Enter have done their work.
CASES = [
    ("quillmark-send -d midi-monitor:input\t", ["-d", "midi-monitor:input (JACK)"]),
    ("quillmark-send -d midi-mon\t\t", ["-d", "midi-monitor:in"]),  # two match: their common part
    ("quillmark-send --device=midi-monitor:in2\t", ["--device=midi-monitor:in2 (JACK)"]),
    ("quillmark-send -d Midi\\ Through:Mi\t", ["-d", "Midi Through:Midi Through Port-0 (ALSA)"]),
    ("quillmark-send -d rtp:session:p\t", ["-d", "rtp:session:port (JACK)"]),
    ("quillmark-send -d Quill\t", ["-d", "Quill"]),  # the virtual port goes by -1, not a name
    ("quillmark-send -p pr\t", ["-p", "prog"]),
]
BOUND = 60  # seconds for the whole run; only a hung bash comes near it


def main():
    script = sys.argv[1]
    helpers = "/usr/share/bash-completion/bash_completion"
    if not os.path.exists(helpers):
        print("bash-completion is not installed (tools/setup.sh installs it)")
        return 1
    folder = tempfile.mkdtemp(prefix="quillmark-completion-")
    fake = os.path.join(folder, "quillmark-send")
    with open(os.path.join(folder, "list"), "w") as listing:
        listing.write(LIST)
    with open(fake, "w") as program:
        program.write('#!/bin/sh\nif [ "$1" = --list ]; then cat "%s/list"; exit 0; fi\n'
                      'echo BEGIN; for a; do echo "ARG<$a>"; done; echo END\n' % folder)
    os.chmod(fake, 0o755)

    lines = ["bind 'set bell-style none'", "bind 'set enable-bracketed-paste off'",
             "source " + helpers, "source " + script, "PATH=%s:$PATH" % folder]
    lines += [typed for typed, _ in CASES] + ["exit"]
    pid, terminal = pty.fork()
    if pid == 0:
        os.execvpe("bash", ["bash", "--norc", "--noprofile", "-i"],
                   dict(os.environ, TERM="dumb", PS1="$ ", HISTFILE="/dev/null"))
    output = b""
    deadline = time.monotonic() + BOUND
    for line in lines:
        os.write(terminal, line.encode() + b"\n")
    while time.monotonic() < deadline:
        ready, _, _ = select.select([terminal], [], [], 1)
        if not ready:
            continue
        try:
            chunk = os.read(terminal, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    os.waitpid(pid, 0)

    runs, current = [], None
    for line in output.decode(errors="replace").replace("\r", "").split("\n"):
        if line == "BEGIN":
            current = []
        elif line == "END" and current is not None:
            runs.append(current)
            current = None
        elif current is not None and line.startswith("ARG<") and line.endswith(">"):
            current.append(line[4:-1])
    failures = 0
    for index, (typed, expected) in enumerate(CASES):
        got = runs[index] if index < len(runs) else None
        if got != expected:
            failures += 1
            print("%r: bash ran %r, expected %r" % (typed, got, expected))
    if failures:
        print(output.decode(errors="replace"))
    return 1 if failures else 0


sys.exit(main())
