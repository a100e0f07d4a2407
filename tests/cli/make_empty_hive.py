#!/usr/bin/env python3
"""Writes an empty Windows registry hive: the regf base block and one 4 KiB hbin holding a root
key and its security record. The tests fill it with `hivexregedit --merge`, so that no hive file
comes from anywhere else.

    make_empty_hive.py OUT [ROOT_NAME]
"""
import struct
import sys

BLOCK = 4096
NO_CELL = 0xFFFFFFFF


def cell(payload):
    """An allocated cell: its size (negative, 8-byte aligned, the size field included) first."""
    size = (4 + len(payload) + 7) & ~7
    return struct.pack("<i", -size) + payload.ljust(size - 4, b"\0")


def security_descriptor():
    """Self-relative: owner and group Administrators, a DACL letting Everyone have full control
    (inherited by new subkeys, as a profile's keys are)."""
    everyone = bytes([1, 1, 0, 0, 0, 0, 0, 1]) + struct.pack("<I", 0)
    admins = bytes([1, 2, 0, 0, 0, 0, 0, 5]) + struct.pack("<II", 32, 544)
    ace_body = struct.pack("<I", 0x000F003F) + everyone  # KEY_ALL_ACCESS
    ace = struct.pack("<BBH", 0, 0x02, 4 + len(ace_body)) + ace_body  # container inherit
    acl = struct.pack("<BBHHH", 2, 0, 8 + len(ace), 1, 0) + ace
    dacl_at = 20
    owner_at = dacl_at + len(acl)
    group_at = owner_at + len(admins)
    header = struct.pack("<BBHIIII", 1, 0, 0x8004, owner_at, group_at, 0, dacl_at)
    return header + acl + admins + admins


def main():
    out = sys.argv[1]
    root_name = (sys.argv[2] if len(sys.argv) > 2 else "ROOT").encode("ascii")
    hbin_header = 32
    root_at = hbin_header  # offsets count from the first hbin
    nk_size = len(cell(b"\0" * (76 + len(root_name))))
    sk_at = root_at + nk_size
    descriptor = security_descriptor()
    sk = b"sk" + struct.pack("<HIIII", 0, sk_at, sk_at, 1, len(descriptor)) + descriptor
    nk = b"nk" + struct.pack(
        "<HQIIIIIIIIIIIIIIIHH",
        0x2C,  # hive entry, cannot be deleted, ASCII name
        0,  # last written
        0,  # access bits
        0,  # parent (none)
        0, 0,  # subkeys, volatile subkeys
        NO_CELL, NO_CELL,  # their lists
        0, NO_CELL,  # values and their list
        sk_at,  # security
        NO_CELL,  # class name
        0, 0, 0, 0,  # largest subkey name, class name, value name, value data
        0,  # work var
        len(root_name), 0) + root_name
    cells = cell(nk) + cell(sk)
    assert len(cell(nk)) == nk_size
    free = BLOCK - hbin_header - len(cells)
    hbin = (b"hbin" + struct.pack("<IIQQI", 0, BLOCK, 0, 0, 0) + cells +
            struct.pack("<i", free) + b"\0" * (free - 4))
    assert len(hbin) == BLOCK

    base = bytearray(BLOCK)
    struct.pack_into("<4sIIQIIIIIII", base, 0, b"regf", 1, 1, 0, 1, 3, 0, 1, root_at, BLOCK, 1)
    name = "\\kdr4tose-test.dat".encode("utf-16-le")[:64]
    base[0x30:0x30 + len(name)] = name
    checksum = 0
    for (word,) in struct.iter_unpack("<I", bytes(base[:0x1FC])):
        checksum ^= word
    checksum = {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(checksum, checksum)
    struct.pack_into("<I", base, 0x1FC, checksum)

    with open(out, "wb") as f:
        f.write(bytes(base) + hbin)


if __name__ == "__main__":
    main()
