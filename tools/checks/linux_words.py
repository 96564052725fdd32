#!/usr/bin/env python3
"""Windows words: fails when a page file or a source of the program (outside tests/) names the
Windows install root or Windows programs in a text or a comment. The operator reads Linux words:
the real install root ("<root>/..." in the code), a text editor, the SoundFont, no DLLs.

The code that imports the older program's settings reads files that may hold such paths, so it
(and its tests, as all tests) may name them."""
import pathlib
import subprocess
import sys

WORDS = ["C:/", "C:\\", "₩tavelo", "loopMIDI", "메모장", "PowerShell", "파워셸", "DLL"]

# Files that read what the older program wrote, with the reason.
ALLOWED = {
    "ui/old_config_import.cpp": "imports the older program's settings files",
    "ui/old_config_import.h": "imports the older program's settings files",
    "platform/paths.cpp": "maps the older program's spelling of the root in paths its files hold",
    "tools/checks/linux_words.py": "this check",
}
SOURCE_DIRS = ("platform", "base", "songs", "sound", "playback", "online", "ui", "app", "assist", "tools", "bench", "fuzz")
SUFFIXES = {".cpp", ".h", ".c", ".js", ".mjs", ".html", ".css", ".py", ".sh"}


def main() -> int:
    root = pathlib.Path(__file__).resolve().parents[2]
    listed = subprocess.run(["git", "ls-files", *SOURCE_DIRS], cwd=root, capture_output=True, text=True, check=True)
    files = [f for f in listed.stdout.splitlines() if pathlib.PurePath(f).suffix in SUFFIXES or f.startswith("tools/")]
    hits = []
    for name in files:
        if name in ALLOWED or name.startswith("tests/"):
            continue
        path = root / name
        try:
            text = path.read_text(encoding="utf-8")
        except (UnicodeDecodeError, FileNotFoundError, IsADirectoryError):
            continue
        for number, line in enumerate(text.splitlines(), 1):
            for word in WORDS:
                if word in line:
                    hits.append(f"{name}:{number}: {word!r}: {line.strip()[:160]}")
    for hit in hits:
        print(hit)
    if hits:
        print(f"{len(hits)} line(s) name Windows paths or programs; say <root>/..., the real root, Linux tools")
        return 1
    print(f"linux words: {len(files)} files clean")
    return 0


if __name__ == "__main__":
    sys.exit(main())
