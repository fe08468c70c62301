"""Copies a text file with Windows line ends (CRLF): windows_text.py <source> <target>."""
import sys
from pathlib import Path

text = Path(sys.argv[1]).read_text(encoding="utf-8")
Path(sys.argv[2]).parent.mkdir(parents=True, exist_ok=True)
Path(sys.argv[2]).write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"))
