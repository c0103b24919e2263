"""What the extraction driver's Python suites share: scripts of commands run through extract_cli under Wine, and
the folders and archives they work on.

The suites are run as `python3 tests/SUITE.py WINE_RUN EXTRACT_CLI`: Python puts the suite's own folder first on
its path, so `import wine_script` finds this file.
"""
import os
import signal
import subprocess
import sys
import tempfile
import zipfile

WINE_RUN = EXTRACT_CLI = None
# The longest script of the suites takes well under a minute: one that runs for this long hangs.
TIMEOUT = 240


def take_arguments():
    """Takes WINE_RUN and EXTRACT_CLI off the command line, leaving the rest to unittest."""
    global WINE_RUN, EXTRACT_CLI
    WINE_RUN, EXTRACT_CLI = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]


def win(path):
    return "Z:" + path.replace("/", "\\")


def run_script(commands, answers):
    """Runs the commands through extract_cli in one Wine process; returns its answer lines, those whose first word
    is one of answers (Wine's own messages come through the same output)."""
    script_text = "\n".join("|".join(c) for c in commands) + "\n"
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8") as f:
        f.write(script_text)
        script = f.name
    try:
        # A session of its own, so that a hung run can be ended with the Wine process under it.
        process = subprocess.Popen([WINE_RUN, EXTRACT_CLI, win(script)], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True)
        try:
            stdout, stderr = process.communicate(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:  # it ended meanwhile
                pass
            process.communicate()
            raise AssertionError("extract_cli did not end within %d s on the script:\n%s" % (TIMEOUT, script_text))
    finally:
        os.unlink(script)
    text = stdout.decode("utf-8", "replace")
    # 3: an end the script asked for (killat, crash). Wine now and then reports a process that ends itself while
    # its flushing threads run as killed by a signal (139: a segmentation fault): it still ended where it was asked.
    asked = any(l.startswith(("killed at ", "crashed after ")) for l in text.splitlines())
    if process.returncode not in (0, 3) and not (asked and process.returncode > 128):
        raise AssertionError("extract_cli failed (%d): %s %s" % (process.returncode, text, stderr[-2000:]))
    return [l for l in text.splitlines() if l.split(" ")[0] in answers]


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def tree(root, describe=file_bytes):
    """{relative path: None for a folder, or describe(path) for a file}"""
    out = {}
    for dirpath, dirs, files in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(dirpath, d), root)] = None
        for name in files:
            path = os.path.join(dirpath, name)
            out[os.path.relpath(path, root)] = describe(path)
    return out


def py_zip(path, members, method=zipfile.ZIP_DEFLATED, dirs=True):
    """A pack as the catalogue's are, members: {name: bytes}; folders get their own members before their contents
    (unless dirs is false), ClientZips.txt comes first."""
    with zipfile.ZipFile(path, "w", method) as z:
        seen = set()
        for name in sorted(members, key=lambda n: (n != "ClientZips.txt", n)):
            if dirs:
                parts = name.split("/")[:-1]
                for i in range(1, len(parts) + 1):
                    d = "/".join(parts[:i]) + "/"
                    if d not in seen:
                        seen.add(d)
                        info = zipfile.ZipInfo(d, date_time=(2014, 1, 29, 12, 30, 10))
                        info.external_attr = 0x10
                        z.writestr(info, b"")
            info = zipfile.ZipInfo(name, date_time=(2014, 1, 29, 12, 30, 10))
            info.external_attr = 0x20
            info.compress_type = method
            z.writestr(info, members[name])
