#!/usr/bin/env python3
"""Reads the application manifest (RT_MANIFEST resources) out of a Windows executable.

usage: check_manifest.py FILE            print every RT_MANIFEST (header line + XML)
       check_manifest.py --check FILE    exit 0 only if exactly one RT_MANIFEST exists, it has
                                        id 1, and it requests asInvoker with uiAccess="false"
exit codes: 0 ok, 1 check failed, 2 not a PE / no resources
"""
import re, struct, sys

RT_MANIFEST = 24

def manifests(data):
    if data[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    nsec, = struct.unpack_from("<H", data, pe + 6)
    optsz, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    ddir = opt + {0x10B: 96, 0x20B: 112}[magic]          # PE32 / PE32+
    ndirs, = struct.unpack_from("<I", data, ddir - 4)
    if ndirs < 3:
        return []
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, ddir + 2 * 8)  # dir 2 = resources
    if rsrc_rva == 0:
        return []
    secs = []
    for i in range(nsec):
        s = opt + optsz + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        secs.append((va, max(vsize, rawsize), rawptr))

    def off(rva):
        for va, size, raw in secs:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("RVA 0x%x not in any section" % rva)

    base = off(rsrc_rva)

    def entries(dir_off):
        _, _, _, _, nnamed, nid = struct.unpack_from("<IIHHHH", data, base + dir_off)
        for i in range(nnamed + nid):
            name, target = struct.unpack_from("<II", data, base + dir_off + 16 + 8 * i)
            if name & 0x80000000:                     # named entry: length-prefixed UTF-16
                p = base + (name & 0x7FFFFFFF)
                n, = struct.unpack_from("<H", data, p)
                key = data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
            else:
                key = name & 0xFFFF
            yield key, target

    out = []
    for typ, t1 in entries(0):
        if typ != RT_MANIFEST or not t1 & 0x80000000:
            continue
        for rid, t2 in entries(t1 & 0x7FFFFFFF):
            for lang, t3 in entries(t2 & 0x7FFFFFFF):
                drva, dsize, _, _ = struct.unpack_from("<IIII", data, base + t3)
                o = off(drva)
                out.append((rid, lang, data[o:o + dsize]))
    return out

def main(argv):
    check = "--check" in argv
    files = [a for a in argv if a != "--check"]
    if len(files) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        with open(files[0], "rb") as f:
            found = manifests(f.read())
    except (OSError, ValueError, KeyError, struct.error) as e:
        print("error: %s" % e, file=sys.stderr)
        return 2
    for rid, lang, raw in found:
        print("== RT_MANIFEST id=%s lang=%s size=%d" % (rid, lang, len(raw)))
        print(raw.decode("utf-8", "replace").lstrip("\ufeff").rstrip())
    if not check:
        return 0 if found else 2
    ok = (len(found) == 1 and found[0][0] == 1 and
          re.search(rb'<requestedExecutionLevel\s+level="asInvoker"\s+uiAccess="false"', found[0][2]))
    print("CHECK %s: %d manifest(s)" % ("OK" if ok else "FAILED", len(found)))
    return 0 if ok else 1

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
