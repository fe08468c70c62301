"""Checks the release as a user downloads it, from the files alone (no Windows needed):

    check_release.py --dist <dir> --bin <dir> --version <x.y.z> --failing-msi <file>
                     --guide <README.txt source> --licence <LICENSE source>

the zip's files and line ends, the checksums, and the installer's tables (read with msiinfo):
per-machine product and its upgrade rules, the folder and files, and the custom actions that
register and remove the service in the right places of the sequence, each with a rollback
twin. Exits 1 with one line per failed check."""

import argparse
import hashlib
import subprocess
import sys
import zipfile
from pathlib import Path

UPGRADE_CODE = "{4CC96D16-192C-4FA4-9F13-4878DF4FAB61}"
BINARIES = ["glintlamp.dll", "glintwatch.exe", "glintctl.exe"]
ZIP_FILES = BINARIES + ["README.txt", "LICENSE.txt"]
# Custom action types: a DLL in the Binary table run from the script as LocalSystem, as the
# installation (3073) or only on its rollback (3329); a property set from a formatted value.
DEFERRED_DLL, ROLLBACK_DLL, SET_PROPERTY = 3073, 3329, 51

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)


def windows_text(path):
    return Path(path).read_text(encoding="utf-8").replace("\n", "\r\n").encode("utf-8")


def msi_table(msi, table):
    """The rows of `table` as dicts by column name (msiinfo's export: names, types, key)."""
    out = subprocess.run(["msiinfo", "export", str(msi), table], check=True,
                         capture_output=True, text=True).stdout
    lines = out.split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def check_checksums(dist, msi, archive):
    sums = (dist / "SHA256SUMS").read_text(encoding="ascii")
    expected = "".join(f"{hashlib.sha256(f.read_bytes()).hexdigest()}  {f.name}\n"
                       for f in (msi, archive))
    expect(sums == expected, f"SHA256SUMS does not list the msi and the zip: {sums!r}")
    verified = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=dist, capture_output=True)
    expect(verified.returncode == 0, f"sha256sum -c fails: {verified.stdout!r}")


def check_zip(archive, bin_dir, guide, licence):
    with zipfile.ZipFile(archive) as z:
        expect(z.namelist() == ZIP_FILES, f"zip holds {z.namelist()}, not {ZIP_FILES}")
        for name in BINARIES:
            expect(z.read(name) == (bin_dir / name).read_bytes(),
                   f"{name} in the zip is not the built one")
        for name, source in (("README.txt", guide), ("LICENSE.txt", licence)):
            text = z.read(name)
            expect(text == windows_text(source), f"{name} is not its source with CRLF line ends")
            expect(b"\n" in text and text.count(b"\n") == text.count(b"\r\n"),
                   f"{name} has a line end that is not CRLF")


def check_msi_product(msi, version):
    props = {row["Property"]: row["Value"] for row in msi_table(msi, "Property")}
    expect(props.get("ProductVersion") == version, f"ProductVersion {props.get('ProductVersion')}")
    expect(props.get("UpgradeCode") == UPGRADE_CODE, f"UpgradeCode {props.get('UpgradeCode')}")
    expect(props.get("ALLUSERS") == "1", "not a per-machine package (ALLUSERS)")
    expect(props.get("MSIRESTARTMANAGERCONTROL") == "Disable", "the restart manager may prompt")
    # A newer package replaces an older one; an older one refuses to replace a newer.
    upgrades = {row["ActionProperty"]: row for row in msi_table(msi, "Upgrade")}
    older = upgrades.get("WIX_UPGRADE_DETECTED", {})
    # Attributes: feature states migrated (1), this version included (0x200), so that a
    # package of the same version built again replaces this one too.
    expect(older.get("VersionMax") == version and older.get("VersionMin") == ""
           and older.get("Attributes") == "513", f"no upgrade of every older version: {older}")
    expect("WIX_DOWNGRADE_DETECTED" in upgrades, "no downgrade rule")
    expect(len(msi_table(msi, "Feature")) == 1, "not one feature")


def check_msi_files(msi, bin_dir, setup_dll):
    dirs = {row["Directory"]: row for row in msi_table(msi, "Directory")}
    install = dirs.get("INSTALLDIR", {})
    expect(install.get("Directory_Parent") == "ProgramFilesFolder"
           and install.get("DefaultDir", "").split("|")[-1] == "Zelv LED",
           f"not installed into [ProgramFilesFolder]Zelv LED\\: {install}")
    files = {row["FileName"].split("|")[-1]: row for row in msi_table(msi, "File")}
    expect(sorted(files) == sorted(ZIP_FILES), f"package files {sorted(files)}")
    components = {row["Component"]: row for row in msi_table(msi, "Component")}
    for name, row in files.items():
        expect(components[row["Component_"]]["Directory_"] == "INSTALLDIR", f"{name} elsewhere")
        if name in BINARIES:
            expect(int(row["FileSize"]) == (bin_dir / name).stat().st_size, f"{name} size")
            expect(row["Version"] != "", f"{name} has no file version")
    binary = subprocess.run(["msiinfo", "extract", str(msi), "Binary.GlintSetup"],
                            check=True, capture_output=True).stdout
    expect(binary == setup_dll.read_bytes(), "the package's custom actions are not glintsetup.dll")
    # The custom actions are the one place that registers the service.
    expect(not msi_table(msi, "ServiceInstall") and not msi_table(msi, "ServiceControl"),
           "the package registers a service of its own")


def check_msi_actions(msi):
    actions = {row["Action"]: row for row in msi_table(msi, "CustomAction")}
    wanted = {
        "GlintInstallService": (DEFERRED_DLL, "GlintSetup", "InstallGlintwatchService"),
        "GlintUndoInstallService": (ROLLBACK_DLL, "GlintSetup", "RemoveGlintwatchService"),
        "GlintRemoveService": (DEFERRED_DLL, "GlintSetup", "RemoveGlintwatchService"),
        "GlintUndoRemoveService": (ROLLBACK_DLL, "GlintSetup", "InstallGlintwatchService"),
        "PassInstallFolder": (SET_PROPERTY, "GlintInstallService", "[INSTALLDIR]"),
        "PassInstallFolderToRollback": (SET_PROPERTY, "GlintUndoRemoveService", "[INSTALLDIR]"),
    }
    for name, (kind, source, target) in wanted.items():
        row = actions.get(name, {})
        kind_bits = 0x3F if kind == SET_PROPERTY else 0xFFF  # a setter's flags do not matter
        got = (int(row.get("Type", -1)) & kind_bits, row.get("Source"), row.get("Target"))
        expect(got == (kind, source, target), f"custom action {name}: {got}")
    expect("GlintTestFailure" not in actions, "the shipped package fails on purpose")

    sequence = {row["Action"]: row for row in msi_table(msi, "InstallExecuteSequence")}
    at = {name: int(row["Sequence"]) for name, row in sequence.items()}
    order = [  # each before the next
        ("InstallValidate", "RemoveExistingProducts"), ("RemoveExistingProducts", "InstallInitialize"),
        ("CostFinalize", "PassInstallFolder"), ("PassInstallFolder", "InstallInitialize"),
        ("PassInstallFolderToRollback", "InstallInitialize"),
        ("InstallInitialize", "GlintUndoRemoveService"),
        ("GlintUndoRemoveService", "GlintRemoveService"), ("GlintRemoveService", "RemoveFiles"),
        ("InstallFiles", "GlintUndoInstallService"),
        ("GlintUndoInstallService", "GlintInstallService"), ("GlintInstallService", "InstallFinalize"),
    ]
    for first, second in order:
        expect(first in at and second in at and at[first] < at[second],
               f"{first} does not come before {second}")
    for name in ("GlintInstallService", "GlintUndoInstallService", "PassInstallFolder"):
        expect(sequence.get(name, {}).get("Condition") == "NOT Installed", f"{name} condition")
    for name in ("GlintRemoveService", "GlintUndoRemoveService", "PassInstallFolderToRollback"):
        expect(sequence.get(name, {}).get("Condition") == 'REMOVE~="ALL"', f"{name} condition")


def check_failing_twin(msi):
    actions = {row["Action"]: row for row in msi_table(msi, "CustomAction")}
    at = {row["Action"]: int(row["Sequence"]) for row in msi_table(msi, "InstallExecuteSequence")}
    expect("GlintTestFailure" in actions and
           at.get("GlintInstallService", 0) < at.get("GlintTestFailure", 0) < at["InstallFinalize"],
           "the test package does not fail after registering the service")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--dist", "--bin", "--version", "--failing-msi", "--guide", "--licence"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    dist, bin_dir = Path(args.dist), Path(args.bin)
    name = f"Glintwatch-{args.version}-win32"
    msi, archive = dist / f"{name}.msi", dist / f"{name}.zip"
    listed = sorted(p.name for p in dist.iterdir())
    expect(listed == sorted([msi.name, archive.name, "SHA256SUMS"]), f"dist holds {listed}")
    if not failures:
        check_checksums(dist, msi, archive)
        check_zip(archive, bin_dir, args.guide, args.licence)
        check_msi_product(msi, args.version)
        check_msi_files(msi, bin_dir, bin_dir / "glintsetup.dll")
        check_msi_actions(msi)
        check_failing_twin(Path(args.failing_msi))
    for failure in failures:
        print(f"FAILED: {failure}")
    if not failures:
        print(f"release {name}: msi, zip and checksums as they ship")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
