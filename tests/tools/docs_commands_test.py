"""The commands that README.md and docs/host-protocol.md show, run on a build tree.

README: every command of its tables that names a `build/<preset>/...` program runs with
exit status 0 on this build tree (the layout below build/<preset> is the same in every
preset); a long run (`--seconds N`) is asked for its --help instead.

docs/host-protocol.md: every `scheduler-host serve ... < FILE.jsonl` example is run with its
Input block as FILE.jsonl (and every `printf ... | scheduler-host` example as written), with
build/<preset>/bin first on the PATH; its output must be the Output block, and its standard
error the "Standard error" block when there is one. Times and other values that depend on
the moment of the run are compared by kind only; a block whose introduction says that the
order may vary is compared as a multiset.

    python3 docs_commands_test.py SOURCE_DIR BUILD_DIR
"""

import datetime
import json
import os
import re
import subprocess
import sys
import tempfile

TIMEOUT = 60


def code_blocks(text):
    """(paragraph before the block, language, content) for every fenced block."""
    blocks = []
    for match in re.finditer(r"```(\w*)\n(.*?)```", text, re.S):
        before = text[:match.start()].rstrip().rsplit("\n\n", 1)[-1]
        blocks.append((before, match.group(1), match.group(2)))
    return blocks


def is_now(year, month, day):
    try:
        moment = datetime.date(year, month, day)
    except (TypeError, ValueError):
        return False
    return abs((moment - datetime.date.today()).days) <= 1


def normalised(value):
    """`value` with the parts that depend on the moment of the run replaced by a marker."""
    if isinstance(value, dict):
        if set(value) == {"year", "month", "day", "hour", "minute", "second"} and is_now(
                value["year"], value["month"], value["day"]):
            return "<now>"
        return {key: "<seconds>" if key == "remainingSeconds" and item else
                ("<time>" if key == "time" else normalised(item))
                for key, item in value.items()}
    if isinstance(value, list):
        return [normalised(item) for item in value]
    if isinstance(value, str):
        iso = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T[\d:.]+Z", value)
        if iso and is_now(*map(int, iso.groups())):
            return "<now>"
    return value


def output_lines(text):
    return [json.dumps(normalised(json.loads(line)), sort_keys=True)
            for line in text.splitlines() if line.strip()]


def log_lines(text):
    # Without the time stamp.
    return [line.split(" ", 1)[1] for line in text.splitlines() if line.strip()]


class Checker:
    def __init__(self, source_dir, build_dir):
        self.source_dir = source_dir
        self.build_dir = build_dir
        self.failures = []

    def fail(self, what, detail):
        self.failures.append(f"{what}\n{detail}")

    def readme(self):
        with open(os.path.join(self.source_dir, "README.md"), encoding="utf-8") as readme:
            commands = re.findall(r"^\| `((?:build/[a-z]+/|python3 [^`]*build/[a-z]+/)[^`]*)` \|",
                                  readme.read(), re.M)
        if not commands:
            self.fail("README.md", "no build/<preset>/ command found")
        for command in commands:
            words = [re.sub(r"^build/[a-z]+/", self.build_dir + "/", word)
                     for word in command.split()]
            if "--seconds" in words:
                words = [words[0], "--help"]
            print("README.md:", " ".join(words), flush=True)
            try:
                run = subprocess.run(words, stdin=subprocess.DEVNULL, capture_output=True,
                                     text=True, timeout=TIMEOUT, cwd=self.source_dir)
            except OSError as error:
                self.fail(f"README.md: {command}", str(error))
                continue
            if run.returncode != 0:
                self.fail(f"README.md: {command}", f"exit {run.returncode}\n{run.stderr}")

    def protocol(self):
        path = os.path.join(self.source_dir, "docs", "host-protocol.md")
        with open(path, encoding="utf-8") as doc:
            blocks = code_blocks(doc.read())
        environment = dict(os.environ)
        environment["PATH"] = os.path.join(self.build_dir, "bin") + os.pathsep + environment["PATH"]
        examples = 0
        with tempfile.TemporaryDirectory() as folder:
            for index, (_, language, content) in enumerate(blocks):
                if language != "sh" or "scheduler-host serve" not in content:
                    continue
                piped = content.lstrip().startswith("printf")
                session = re.search(r"<\s*(\S+\.jsonl)", content)
                if not piped and not session:
                    continue
                examples += 1
                print("docs/host-protocol.md:", content.strip().splitlines()[-1], flush=True)
                following = blocks[index + 1:]
                if session:
                    with open(os.path.join(folder, session.group(1)), "w") as lines:
                        lines.write(following[0][2])
                    following = following[1:]
                expected = following[0]
                errors = following[1] if len(following) > 1 and \
                    following[1][0].startswith("Standard error") else None
                run = subprocess.run(["bash", "-c", content], cwd=folder, env=environment,
                                     capture_output=True, text=True, timeout=TIMEOUT)
                name = content.strip().splitlines()[0]
                if run.returncode != 0:
                    self.fail(name, f"exit {run.returncode}\n{run.stderr}")
                    continue
                got, want = output_lines(run.stdout), output_lines(expected[2])
                if "may vary" in expected[0]:
                    got, want = sorted(got), sorted(want)
                if got != want:
                    self.fail(name, "output:\n" + "\n".join(got) + "\ndocumented:\n" +
                              "\n".join(want))
                if errors and log_lines(run.stderr) != log_lines(errors[2]):
                    self.fail(name, f"standard error:\n{run.stderr}documented:\n{errors[2]}")
        if examples == 0:
            self.fail("docs/host-protocol.md", "no example found")


def main():
    checker = Checker(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
    checker.readme()
    checker.protocol()
    for failure in checker.failures:
        print("FAILED:", failure, sep="\n", end="\n\n")
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
