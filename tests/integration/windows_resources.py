#!/usr/bin/env python3
"""The resources of the built Windows programs, read back from the executables: every field of both
version resources, the tool's manifest, the firmware image beside them, and Shttpd.exe's padded size
(with a signature after the padding when the build signs). Prints the fields it read.

usage: windows_resources.py <version x.y.z> <firmware image> <facup.exe> <Shttpd.exe>
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET

RT_RCDATA, RT_VERSION, RT_MANIFEST = 10, 16, 24
SHTTPD_PADDED_SIZE = 364544
COMMON = {
    "CompanyName": "Quorvane",
    "ProductName": "Quorvane camera factory upgrade tool",
    "LegalCopyright": "Copyright (C) 2026 Quorvane",
}
SUPPORTED_OS = {  # Windows 7, 8, 8.1, 10 and 11
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
failures = []


def check(what, got, want):
    print("%-55s %r" % (what, got))
    if got != want:
        failures.append("%s: got %r, want %r" % (what, got, want))


def resources(image):
    """{(type, id): data} of a PE image's resource tree (ids only; the first language of each)."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0", "not a PE image"
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    assert struct.unpack_from("<H", image, optional)[0] == 0x20B, "not PE32+"
    root_rva = struct.unpack_from("<I", image, optional + 112 + 2 * 8)[0]
    spans = [struct.unpack_from("<8xIIII", image, optional + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for vsize, va, raw_size, raw in spans:
            if va <= rva < va + max(vsize, raw_size):
                return raw + rva - va
        raise ValueError("RVA %#x outside every section" % rva)

    root = offset(root_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<12xHH", image, root + directory)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", image, root + directory + 16 + 8 * i)
            if not name & 0x80000000:
                yield name, target & 0x7FFFFFFF

    found = {}
    for kind, names in entries(0):
        for ident, languages in entries(names):
            for _, leaf in list(entries(languages))[:1]:
                rva, size = struct.unpack_from("<II", image, root + leaf)
                found[(kind, ident)] = image[offset(rva):offset(rva) + size]
    return found


def signature_span(image):
    """(file offset, size) of a PE image's certificate table (its Authenticode signature); (0, 0)
    when it has none."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    return struct.unpack_from("<II", image, pe + 24 + 112 + 4 * 8)


def version_node(data, at):
    """(key, value bytes, children, length) of one node of a VS_VERSIONINFO tree."""
    length, value_length, text = struct.unpack_from("<HHH", data, at)
    end = at + 6
    while data[end:end + 2] != b"\0\0":
        end += 2
    key = data[at + 6:end].decode("utf-16-le")
    pos = (end + 2 + 3) & ~3
    value = data[pos:pos + value_length * (2 if text else 1)]
    pos = (pos + len(value) + 3) & ~3
    children = []
    while pos < at + length:
        child = version_node(data, pos)
        children.append(child)
        pos = (pos + child[3] + 3) & ~3
    return key, value, children, length


def check_version(name, data, quad, description):
    key, fixed, children, _ = version_node(data, 0)
    check(name + " version resource key", key, "VS_VERSION_INFO")
    words = struct.unpack_from("<13I", fixed)
    binary = tuple(int(n) for n in quad.split("."))
    check(name + " signature", hex(words[0]), "0xfeef04bd")
    check(name + " binary FileVersion", (words[2] >> 16, words[2] & 0xFFFF, words[3] >> 16, words[3] & 0xFFFF), binary)
    check(name + " binary ProductVersion", (words[4] >> 16, words[4] & 0xFFFF, words[5] >> 16, words[5] & 0xFFFF), binary)
    check(name + " flags, OS, type, subtype", [hex(w) for w in words[7:11]], ["0x0", "0x40004", "0x1", "0x0"])
    blocks = {child[0]: child for child in children}
    tables = blocks["StringFileInfo"][2]
    check(name + " string tables", [table[0].upper() for table in tables], ["040904B0"])
    strings = {entry[0]: entry[1].decode("utf-16-le").rstrip("\0") for entry in tables[0][2]}
    want = dict(COMMON, FileDescription=description, FileVersion=quad, ProductVersion=quad, OriginalFilename=name)
    check(name + " strings", strings, want)
    translation = blocks["VarFileInfo"][2][0]
    check(name + " translation", (translation[0], struct.unpack("<HH", translation[1])), ("Translation", (0x409, 1200)))


def check_manifest(data, quad):
    print("facup.exe manifest:\n" + data.decode("utf-8"))
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1",
          "w5": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
          "w16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
    root = ET.fromstring(data)
    identity = root.find("v1:assemblyIdentity", ns)
    check("manifest identity", (identity.get("version"), identity.get("processorArchitecture")), (quad, "amd64"))
    level = root.find(".//v3:requestedExecutionLevel", ns)
    check("manifest execution level", (level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
    controls = root.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)
    check("manifest dependency", {k: controls.get(k) for k in ("name", "version", "publicKeyToken")},
          {"name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0", "publicKeyToken": "6595b64144ccf1df"})
    check("manifest supportedOS", {e.get("Id") for e in root.iterfind(".//c:supportedOS", ns)}, SUPPORTED_OS)
    check("manifest DPI awareness", (root.findtext(".//w5:dpiAware", None, ns), root.findtext(".//w16:dpiAwareness", None, ns)),
          ("true", "PerMonitorV2"))


def main():
    version, firmware, facup, shttpd = sys.argv[1:5]
    quad = version + ".0"
    with open(facup, "rb") as f:
        tool = f.read()
    with open(shttpd, "rb") as f:
        server = f.read()
    tool_resources, server_resources = resources(tool), resources(server)
    check_version("facup.exe", tool_resources.get((RT_VERSION, 1), b""), quad, "Camera factory upgrade tool")
    check_version("Shttpd.exe", server_resources.get((RT_VERSION, 1), b""), quad, "Firmware file server")
    check_manifest(tool_resources.get((RT_MANIFEST, 1), b""), quad)
    check("facup.exe banner carries the same version", b"Tester Upgrader v" + version.encode() in tool, True)
    check("facup.exe firmware image (RCDATA 101) bytes", len(tool_resources.get((RT_RCDATA, 101), b"")),
          os.path.getsize(firmware))
    # A signature follows the padding: the size follows the signed size.
    offset, size = signature_span(server)
    check("Shttpd.exe signature (none, or right after the padding)", offset in (0, SHTTPD_PADDED_SIZE), True)
    check("Shttpd.exe size (padded, so within the padding)", len(server) - size, SHTTPD_PADDED_SIZE)
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
