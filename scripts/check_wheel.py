"""Checks the tavrix-equity wheel that make wheel built, then prints its name
and size: the stable-ABI and manylinux tags, the metadata, exactly the
package's files, and no path of the machine that built it in any file (as
`strings` sees them). Exit status 1 and one line per fault otherwise.

    python scripts/check_wheel.py dist/tavrix_equity-<version>-cp312-abi3-manylinux_<glibc>_<arch>.whl
"""

import os
import re
import subprocess
import sys
import sysconfig
import tempfile
import zipfile
from email.parser import HeaderParser
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
PACKAGE = REPO / "python" / "tavrix_equity"
PLATFORM_TAG = re.compile(r"manylinux_\d+_\d+_(x86_64|aarch64|ppc64le|s390x|armv7l|i686)")
# Absolute paths under these roots can only come from the build machine.
MACHINE_PATH = re.compile(r"(?<![\w./-])/(home|root|tmp|work|usr|opt|var|mnt|srv|build)/")


def version():
    text = (PACKAGE / "_version.py").read_text()
    return re.search(r'__version__ = "([^"]+)"', text).group(1)


def package_files():
    """The files the package's directory holds, as the wheel should name them."""
    names = {f"tavrix_equity/{p.relative_to(PACKAGE).as_posix()}" for p in PACKAGE.rglob("*")
             if p.is_file() and "__pycache__" not in p.parts and p.suffix in (".py", ".typed")}
    return names | {"tavrix_equity/_engine.abi3.so", "tavrix_equity/_engine.pyi"}


def machine_strings():
    """Paths of this machine that a careless build would write into a binary."""
    places = {REPO, Path.home(), Path(tempfile.gettempdir()), Path(sys.prefix), Path(sys.base_prefix),
              Path(sysconfig.get_path("purelib"))}
    return {str(p.resolve()) for p in places if len(p.resolve().parts) > 1}


def tag_faults(wheel_path, wheel_text):
    parts = wheel_path.name[:-len(".whl")].split("-")
    if len(parts) != 5:
        return [f"{wheel_path.name}: not a wheel file name"]
    name, found_version, python, abi, platforms = parts
    faults = []
    if name != "tavrix_equity" or found_version != version():
        faults.append(f"{wheel_path.name}: expected tavrix_equity {version()}")
    if (python, abi) != ("cp312", "abi3"):
        faults.append(f"{wheel_path.name}: tagged {python}-{abi}, not cp312-abi3")
    if not all(PLATFORM_TAG.fullmatch(p) for p in platforms.split(".")):
        faults.append(f"{wheel_path.name}: platform {platforms} is not a manylinux tag")
    wheel = HeaderParser().parsestr(wheel_text)
    expected = {f"{python}-{abi}-{p}" for p in platforms.split(".")}
    if set(wheel.get_all("Tag", [])) != expected:
        faults.append(f"WHEEL lists tags {sorted(wheel.get_all('Tag', []))}, the name says {sorted(expected)}")
    if wheel["Root-Is-Purelib"] != "false":
        faults.append("WHEEL: Root-Is-Purelib is not false")
    return faults


def metadata_faults(metadata_text, entry_points):
    metadata = HeaderParser().parsestr(metadata_text)
    faults = []
    if (metadata["Name"], metadata["Version"]) != ("tavrix-equity", version()):
        faults.append(f"METADATA names {metadata['Name']} {metadata['Version']}")
    if metadata["Requires-Python"] != ">=3.12":
        faults.append(f"METADATA: Requires-Python is {metadata['Requires-Python']}")
    requires = metadata.get_all("Requires-Dist", [])
    if not any(r.startswith("numpy") for r in requires) or any(r.startswith("tavrix") for r in requires):
        faults.append(f"METADATA: dependencies {requires}")
    if set(metadata.get_all("Provides-Extra", [])) != {"plot", "distributed"}:
        faults.append(f"METADATA: extras {metadata.get_all('Provides-Extra', [])}, not plot and distributed")
    if "tavrix-equity = tavrix_equity.cli:main" not in entry_points:
        faults.append("entry_points.txt lacks the tavrix-equity command")
    return faults


def path_faults(archive):
    """Every file through `strings` (one run for them all): no path of this
    machine, no absolute path under a directory only a build machine has."""
    known = machine_strings()
    with tempfile.TemporaryDirectory() as scratch:
        files = [info.filename for info in archive.infolist() if not info.is_dir()]
        archive.extractall(scratch, files)
        found = subprocess.run(["strings", "-a", "-n", "4", "-f", *files], cwd=scratch, capture_output=True,
                               text=True, errors="replace", check=True).stdout.splitlines()
    faults = []
    for line in found:
        name, _, text = line.partition(": ")
        if any(place in text for place in known) or MACHINE_PATH.search(text):
            faults.append(f"{name}: holds a path of the build machine: {text.strip()[:120]}")
    return faults


def check(wheel_path):
    """The faults of the wheel at `wheel_path`, as lines of text."""
    with zipfile.ZipFile(wheel_path) as archive:
        # auditwheel writes entries for directories too; only files count.
        names = {n for n in archive.namelist() if not n.endswith("/")}
        info = f"tavrix_equity-{version()}.dist-info"
        wanted = package_files() | {f"{info}/{n}" for n in ("METADATA", "WHEEL", "RECORD", "entry_points.txt")}
        faults = [f"unexpected file {n}" for n in sorted(names - wanted)]
        faults += [f"missing file {n}" for n in sorted(wanted - names)]
        if f"{info}/WHEEL" in names:
            faults += tag_faults(wheel_path, archive.read(f"{info}/WHEEL").decode())
        if {f"{info}/METADATA", f"{info}/entry_points.txt"} <= names:
            faults += metadata_faults(archive.read(f"{info}/METADATA").decode(),
                                      archive.read(f"{info}/entry_points.txt").decode())
        faults += path_faults(archive)
    return faults


def main(argv):
    if len(argv) != 1 or not Path(argv[0]).is_file():
        print(f"check_wheel: give the one tavrix-equity wheel to check, not {argv}", file=sys.stderr)
        return 2
    wheel_path = Path(argv[0])
    faults = check(wheel_path)
    for fault in faults:
        print(f"check_wheel: {fault}", file=sys.stderr)
    if faults:
        return 1
    size = os.path.getsize(wheel_path)
    print(f"{wheel_path}  {size / 1024:.0f} KiB ({size:,} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
