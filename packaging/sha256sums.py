"""Writes the checksums of files as sha256sum prints them, by file name:
sha256sums.py <SHA256SUMS> <file>..."""
import hashlib
import sys
from pathlib import Path

lines = [f"{hashlib.sha256(Path(f).read_bytes()).hexdigest()}  {Path(f).name}\n"
         for f in sys.argv[2:]]
Path(sys.argv[1]).write_text("".join(lines), encoding="ascii", newline="\n")
