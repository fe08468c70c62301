#!/usr/bin/env python3
"""Checks a shipped Windows binary: machine, subsystem, exports, imports, version resource,
manifest and size. Exports and imports come from the cross toolchain's objdump; the resources
are read from the file itself. Prints every problem found and exits non-zero if there was one."""

import argparse
import re
import struct
import subprocess
import sys

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
SUBSYSTEMS = {"gui": 2, "console": 3}


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("binary")
    parser.add_argument("--objdump", required=True, help="the cross toolchain's objdump")
    parser.add_argument("--machine", default="i386", help="architecture objdump reports")
    parser.add_argument("--subsystem", choices=sorted(SUBSYSTEMS), help="exe subsystem")
    parser.add_argument("--exports", help="comma-separated names: exactly these, undecorated")
    parser.add_argument(
        "--system-dlls", required=True, help="comma-separated DLLs the binary may import from"
    )
    parser.add_argument(
        "--imports",
        action="append",
        default=[],
        metavar="DLL:NAME,NAME",
        help="a further DLL the binary must import exactly these names from",
    )
    parser.add_argument("--file-version", required=True)
    parser.add_argument("--product-version", required=True)
    parser.add_argument("--execution-level", default="asInvoker")
    parser.add_argument("--max-size", type=int, metavar="BYTES", help="size budget of the file")
    return parser.parse_args()


def objdump(tool, *options, binary):
    return subprocess.run(
        [tool, *options, binary], check=True, capture_output=True, text=True
    ).stdout


def export_names(private_headers):
    """Names in the export name table, as objdump -p lists them."""
    match = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s+\[\s*\d+\] .*\n)*)", private_headers)
    if not match:
        return []
    return [line.split("]", 1)[1].strip() for line in match.group(1).splitlines()]


def imports_by_dll(private_headers):
    """{dll name in lower case: [imported names, '<ordinal N>' for ordinals]}."""
    imports = {}
    for block in re.split(r"\n\s*DLL Name: ", private_headers)[1:]:
        lines = block.splitlines()
        names = imports.setdefault(lines[0].strip().lower(), [])
        for line in lines[2:]:
            if not line.strip():
                break
            fields = line.split()
            # vma, hint, name (by name) or vma, ordinal with no name (by ordinal)
            names.append(fields[2] if len(fields) >= 3 else "<ordinal %s>" % fields[1])
    return imports


class PeFile:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe : pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4
        )
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic != 0x10B:
            raise ValueError("not PE32 (optional header magic 0x%X)" % self.magic)
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = struct.unpack_from("<I", data, optional + 92)[0]
        self.resource_rva = (
            struct.unpack_from("<I", data, optional + 96 + 2 * 8)[0] if directories > 2 else 0
        )
        self.sections = []
        table = optional + optional_size
        for index in range(sections):
            _, virtual_size, rva, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", data, table + 40 * index
            )
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA 0x%X is in no section" % rva)

    def resources(self):
        """{(type id, name id): bytes} for the resources with numeric type and name."""
        found = {}
        if not self.resource_rva:
            return found
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for index in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * index)
                yield name, target

        for type_id, type_target in entries(0):
            for name_id, name_target in entries(type_target & 0x7FFFFFFF):
                for _, language_target in entries(name_target & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + language_target)
                    start = self.offset(rva)
                    found[(type_id, name_id)] = self.data[start : start + size]
        return found


def fixed_file_info(version_resource):
    """(file version, product version) as dotted text, from VS_FIXEDFILEINFO."""
    at = version_resource.find(struct.pack("<I", FIXED_FILE_INFO_SIGNATURE))
    if at < 0:
        return None
    _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", version_resource, at)

    def dotted(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    return dotted(file_ms, file_ls), dotted(product_ms, product_ls)


def check(args):
    problems = []
    headers = objdump(args.objdump, "-p", binary=args.binary)
    file_header = objdump(args.objdump, "-f", binary=args.binary)
    with open(args.binary, "rb") as stream:
        data = stream.read()
    pe = PeFile(data)
    if args.max_size is not None and len(data) > args.max_size:
        problems.append("%d bytes, over the budget of %d" % (len(data), args.max_size))

    if not re.search(r"file format pei-%s\b" % re.escape(args.machine), file_header):
        problems.append("not a PE32 %s binary: %s" % (args.machine, file_header.strip()))
    is_dll = bool(pe.characteristics & 0x2000)
    if args.subsystem and (is_dll or pe.subsystem != SUBSYSTEMS[args.subsystem]):
        problems.append(
            "expected a %s program, found subsystem %d%s"
            % (args.subsystem, pe.subsystem, " in a DLL" if is_dll else "")
        )

    exports = export_names(headers)
    if args.exports is not None:
        expected = sorted(args.exports.split(",")) if args.exports else []
        if sorted(exports) != expected:
            problems.append("exports %s, expected exactly %s" % (sorted(exports), expected))

    imports = imports_by_dll(headers)
    allowed = {name.lower() for name in args.system_dlls.split(",")}
    for spec in args.imports:
        dll, names = spec.split(":", 1)
        found = imports.pop(dll.lower(), None)
        if found is None:
            problems.append("imports nothing from %s" % dll)
        elif sorted(found) != sorted(names.split(",")):
            problems.append("imports %s from %s, expected %s" % (sorted(found), dll, names))
    for dll in sorted(imports):
        if dll not in allowed:
            problems.append("imports from %s, which is not a system DLL" % dll)

    resources = pe.resources()
    version = next((data for (kind, _), data in resources.items() if kind == RT_VERSION), None)
    versions = fixed_file_info(version) if version else None
    if versions is None:
        problems.append("no version resource")
    elif versions != (args.file_version, args.product_version):
        problems.append(
            "file/product version %s/%s, expected %s/%s"
            % (*versions, args.file_version, args.product_version)
        )

    manifests = [data for (kind, _), data in resources.items() if kind == RT_MANIFEST]
    level = re.search(rb'requestedExecutionLevel[^>]*level="([^"]+)"', b"".join(manifests))
    if not manifests:
        problems.append("no manifest")
    elif not level or level.group(1).decode() != args.execution_level:
        problems.append("manifest does not ask for %s" % args.execution_level)
    return problems


def main():
    args = parse_args()
    problems = check(args)
    for problem in problems:
        print("%s: %s" % (args.binary, problem))
    if not problems:
        print("%s: ok" % args.binary)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
