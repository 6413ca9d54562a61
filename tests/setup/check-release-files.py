#!/usr/bin/env python3
"""Checks the shipped Windows programs as Windows will see them.

    check-release-files.py OBJDUMP VERSION AGENT_EXE SETUP_EXE [CHECK_EXE [MSI_DLL]]

quorvel.exe: the GUI subsystem (no console window at logon), only DLLs that
Windows itself ships (a static build that picked up libstdc++ or
winpthread would not start on a clean machine), a manifest that asks for
common controls 6, per-monitor DPI awareness and no elevation, and a
version block and manifest identity that carry the project version.
quorvel-check.exe: the console subsystem, system DLLs only. The setup
program: its version block carries the project version. quorvel-msi.dll
(the package's custom actions, loaded into the elevated installer service):
system DLLs only.

All of them: ASLR with 64-bit entropy (DYNAMIC_BASE, HIGH_ENTROPY_VA) and DEP
(NX_COMPAT). Our own files also keep their relocations, without which
Windows cannot move them despite DYNAMIC_BASE, and carry the stack
protector's canary. The setup's missing relocations are NSIS's (its stub
comes without them) and are printed as a gap, not counted as a failure.

Prints one line per finding and exits 1 when any check fails.
"""

import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "gdi32.dll",
    "hid.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
    "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll",
    "version.dll", "wininet.dll", "ws2_32.dll", "iphlpapi.dll", "secur32.dll",
    "bcrypt.dll", "ntdll.dll", "ucrtbase.dll", "msi.dll",
}

RT_VERSION = 16
RT_MANIFEST = 24

failures = 0


def report(ok, what):
    global failures
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures += 1


def objdump(tool, path):
    out = subprocess.run([tool, "-p", path], check=True, capture_output=True, text=True).stdout
    subsystem = None
    dlls = []
    for line in out.splitlines():
        if line.startswith("Subsystem"):
            subsystem = line.split("(")[-1].rstrip(")")
        elif "DLL Name:" in line:
            dlls.append(line.split("DLL Name:")[1].strip())
    return subsystem, dlls


class Headers:
    """The COFF and optional headers of a PE file, as far as these checks read them."""

    def __init__(self, path):
        self.data = data = open(path, "rb").read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        (sections, _, symbols_at, symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HIIIHH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        # At the same offset in PE32 and PE32+.
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        at = optional + (112 if magic == 0x20B else 96)
        self.directories = [struct.unpack_from("<II", data, at + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            name, vsize, rva, raw_size, raw = struct.unpack_from(
                "<8sIIII", data, optional + optional_size + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(errors="replace"), rva, max(vsize, raw_size), raw))
        self.symbols = set()
        strings = symbols_at + 18 * symbol_count
        i = 0
        while symbols_at and i < symbol_count:
            name, aux = struct.unpack_from("<8s9xB", data, symbols_at + 18 * i)
            if name[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", name, 4)[0]
                name = data[start:data.index(b"\0", start)]
            self.symbols.add(name.rstrip(b"\0").decode(errors="replace"))
            i += 1 + aux


def resources(path):
    """{(type id, name id): bytes} of the PE file's resource section."""
    headers = Headers(path)
    data = headers.data
    rsrc_rva, _ = headers.directories[2]
    table = [(rva, size, raw) for _, rva, size, raw in headers.sections]

    def offset(rva):
        for start, size, raw in table:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA outside every section")

    if rsrc_rva == 0:
        return {}
    base = offset(rsrc_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            yield name, target

    found = {}
    for type_id, type_at in entries(0):
        for name_id, name_at in entries(type_at & 0x7FFFFFFF):
            for _, leaf in entries(name_at & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(type_id, name_id)] = data[offset(rva):offset(rva) + size]
    return found


def version_block(blob):
    """The fixed file information and the strings of a VERSIONINFO."""
    strings = {}
    fixed = None

    def walk(at, end, depth):
        nonlocal fixed
        while at < end:
            length, value_length, kind = struct.unpack_from("<HHH", blob, at)
            if length == 0:
                break
            key_end = at + 6
            while blob[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = blob[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            if depth == 0:
                fixed = struct.unpack_from("<13I", blob, value_at)
                children = (value_at + value_length + 3) & ~3
            elif kind == 1 and depth == 3:
                text = blob[value_at:value_at + 2 * value_length].decode("utf-16-le")
                strings[key] = text.rstrip("\0")
                children = at + length
            else:
                children = (value_at + (value_length if kind == 0 else 2 * value_length) + 3) & ~3
            walk(children, at + length, depth + 1)
            at = (at + length + 3) & ~3

    walk(0, len(blob), 0)
    return fixed, strings


def check_version(label, path, version, expect):
    blocks = [blob for (kind, _), blob in resources(path).items() if kind == RT_VERSION]
    report(len(blocks) == 1, f"{label}: one version block")
    if not blocks:
        return
    fixed, strings = version_block(blocks[0])
    major, minor, patch = (int(n) for n in version.split("."))
    packed = ((major << 16) | minor, patch << 16)
    report(fixed is not None and fixed[0] == 0xFEEF04BD, f"{label}: fixed file information")
    if fixed is not None:
        report((fixed[2], fixed[3]) == packed,
               f"{label}: file version {fixed[2] >> 16}.{fixed[2] & 0xFFFF}."
               f"{fixed[3] >> 16}.{fixed[3] & 0xFFFF} is {version}.0")
        report((fixed[4], fixed[5]) == packed, f"{label}: product version is {version}.0")
    for key, value in expect.items():
        report(strings.get(key) == value, f"{label}: {key} {strings.get(key)!r} is {value!r}")


def check_imports(label, dlls):
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS and
               not d.lower().startswith("api-ms-win-")]
    report(dlls and not foreign,
           f"{label}: imports only system DLLs ({', '.join(dlls)})"
           + (f"; not from Windows: {', '.join(foreign)}" if foreign else ""))


def check_manifest(label, path, version):
    blobs = [blob for (kind, _), blob in resources(path).items() if kind == RT_MANIFEST]
    report(len(blobs) == 1, f"{label}: one manifest")
    if not blobs:
        return
    root = ET.fromstring(blobs[0].decode("utf-8"))
    v1 = "{urn:schemas-microsoft-com:asm.v1}"
    identity = root.find(v1 + "assemblyIdentity")
    report(identity is not None and identity.get("version") == version + ".0",
           f"{label}: manifest identity version "
           f"{identity.get('version') if identity is not None else None} is {version}.0")
    controls = [e for e in root.iter(v1 + "assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    report(any(e.get("version") == "6.0.0.0" for e in controls),
           f"{label}: common controls 6 asked for")
    level = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    report(level == ["asInvoker"], f"{label}: runs as invoker, no elevation ({level})")
    aware = {e.tag.split("}")[-1]: (e.text or "").strip() for e in root.iter()
             if e.tag.endswith("}dpiAware") or e.tag.endswith("}dpiAwareness")}
    report(aware.get("dpiAware", "").lower().startswith("true"),
           f"{label}: dpiAware {aware.get('dpiAware')!r}")
    report("PerMonitorV2" in aware.get("dpiAwareness", ""),
           f"{label}: dpiAwareness {aware.get('dpiAwareness')!r} names PerMonitorV2")


IMAGE_FILE_RELOCS_STRIPPED = 0x0001
MITIGATIONS = {"HIGH_ENTROPY_VA": 0x0020, "DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100}
BASE_RELOCATION_DIRECTORY = 5


def check_hardening(label, path, ours=True, known_gap=None):
    """ASLR, DEP and relocations, and the canary in what this build compiles.

    known_gap says why a file made by another tool cannot be relocated."""
    headers = Headers(path)
    for flag, bit in MITIGATIONS.items():
        report(headers.dll_characteristics & bit, f"{label}: {flag}")
    relocations = (not headers.characteristics & IMAGE_FILE_RELOCS_STRIPPED
                   and headers.directories[BASE_RELOCATION_DIRECTORY][1] > 0
                   and any(name == ".reloc" for name, *_ in headers.sections))
    if known_gap and not relocations:
        print(f"gap   {label}: no relocations ({known_gap})")
    else:
        report(relocations, f"{label}: a .reloc section and a base relocation directory")
    if ours:
        canary = {"__stack_chk_guard", "__stack_chk_fail"} <= headers.symbols
        report(canary, f"{label}: the stack protector's canary is linked in"
               + ("" if headers.symbols else " (no symbol table to tell)"))


def main(argv):
    if len(argv) not in (5, 6, 7):
        print(__doc__, file=sys.stderr)
        return 2
    tool, version, agent, setup = argv[1:5]
    check = argv[5] if len(argv) >= 6 else None
    msi_dll = argv[6] if len(argv) == 7 else None

    subsystem, dlls = objdump(tool, agent)
    report(subsystem == "Windows GUI", f"quorvel.exe: subsystem {subsystem}")
    check_imports("quorvel.exe", dlls)
    check_hardening("quorvel.exe", agent)
    check_manifest("quorvel.exe", agent, version)
    check_version("quorvel.exe", agent, version, {
        "FileVersion": version + ".0",
        "ProductVersion": version + ".0",
        "ProductName": "Quorvel",
        "CompanyName": "Quorvel",
        "OriginalFilename": "quorvel.exe",
    })

    if check:
        subsystem, dlls = objdump(tool, check)
        report(subsystem == "Windows CUI", f"quorvel-check.exe: subsystem {subsystem}")
        check_imports("quorvel-check.exe", dlls)
        check_hardening("quorvel-check.exe", check)

    if msi_dll:
        _, dlls = objdump(tool, msi_dll)
        check_imports("quorvel-msi.dll", dlls)
        check_hardening("quorvel-msi.dll", msi_dll)

    subsystem, dlls = objdump(tool, setup)
    report(subsystem == "Windows GUI", f"setup: subsystem {subsystem}")
    check_hardening("setup", setup, ours=False, known_gap="NSIS 3.08's stub is linked without them, "
                    "so Windows loads it at its fixed base")
    check_version("setup", setup, version, {
        "ProductVersion": version + ".0",
        "ProductName": "Quorvel",
        "CompanyName": "Quorvel",
    })

    print(f"{failures} check(s) failed" if failures else "every check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
