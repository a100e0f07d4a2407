#!/usr/bin/env python3
"""Registry editor files for the hive tests, read as the registry editor reads them.

    reg_model.py merge-text REG ROOT OUT   the keys of REG below ROOT (HKEY_CURRENT_USER, or
                                           HKEY_LOCAL_MACHINE\\Software) as UTF-8 text for
                                           `hivexregedit --merge --prefix ROOT`: every parent key
                                           listed, text data as UTF-16LE hex
    reg_model.py dump REG [BRANCH]         the keys and values of REG (or of BRANCH and below) one
                                           a line, sorted, text data decoded: two files that hold
                                           the same registry print the same lines

REG is REGEDIT4 (code page 932), version 5 (UTF-16LE with a byte order mark) or the UTF-8 text
`hivexregedit --export` writes.
"""
import re
import sys

TEXT_TYPES = (1, 2, 7)


def decode_file(raw):
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le"), "utf-16-le"
    if raw.startswith(b"REGEDIT4"):
        return raw.decode("cp932"), "cp932"
    return raw.decode("utf-8"), "utf-16-le"  # hivexregedit's export: hex text data is UTF-16LE


def parse_quoted(text, at):
    """The string that starts after the quote at text[at]; returns (string, index after it)."""
    out = []
    i = at + 1
    while text[i] != '"':
        if text[i] == "\\":
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out), i + 1


def parse(path):
    """{key path: {value name: (type, data as str for text types, else bytes)}}, in file order,
    deletions applied."""
    text, data_encoding = decode_file(open(path, "rb").read())
    lines = text.replace("\r\n", "\n").split("\n")
    keys = {}
    current = None
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines) and re.match(r'^.*=(hex|dword)', line):
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("[-"):
            gone = line[2:line.rindex("]")].lower()
            for key in [k for k in keys if k.lower() == gone or k.lower().startswith(gone + "\\")]:
                del keys[key]
            current = None
        elif line.startswith("["):
            current = line[1:line.rindex("]")]
            keys.setdefault(current, {})
        elif current is not None and (line.startswith('"') or line.startswith("@")):
            if line.startswith("@"):
                name, after = "", 1
            else:
                name, after = parse_quoted(line, 0)
            rest = line[after + 1:]
            values = keys[current]
            if rest == "-":
                values.pop(name, None)
            elif rest.startswith('"'):
                values[name] = (1, parse_quoted(rest, 0)[0] + "\0")
            elif rest.startswith("dword:"):
                values[name] = (4, int(rest[6:], 16).to_bytes(4, "little"))
            else:
                m = re.match(r"(?:hex|str)(?:\(([0-9a-fA-F]+)\))?:(.*)$", rest)
                kind = int(m.group(1), 16) if m.group(1) else 3
                body = m.group(2).strip()
                data = bytes(int(b, 16) for b in body.split(",") if b.strip()) if body else b""
                values[name] = (kind, data.decode(data_encoding) if kind in TEXT_TYPES else data)
    return keys


def under(key, root):
    return key.lower() == root.lower() or key.lower().startswith(root.lower() + "\\")


def merge_text(path, root, out):
    keys = parse(path)
    listed = set()
    blocks = []
    for key, values in keys.items():
        if not under(key, root) or key.lower() == root.lower():
            continue
        names = key[len(root) + 1:].split("\\")
        for depth in range(1, len(names)):
            parent = root + "\\" + "\\".join(names[:depth])
            if parent.lower() not in listed:
                listed.add(parent.lower())
                blocks.append("[%s]\n" % parent)
        listed.add(key.lower())
        lines = ["[%s]" % key]
        for name, (kind, data) in values.items():
            shown = "@" if name == "" else '"%s"' % name.replace("\\", "\\\\").replace('"', '\\"')
            if kind in TEXT_TYPES:
                data = data.encode("utf-16-le")
            lines.append("%s=hex(%x):%s" % (shown, kind, ",".join("%02x" % b for b in data)))
        blocks.append("\n".join(lines) + "\n")
    with open(out, "w", encoding="utf-8") as f:
        f.write("Windows Registry Editor Version 5.00\n\n" + "\n".join(blocks) + "\n")


def dump(path, branch=None):
    keys = parse(path)
    parents = set()
    for key in keys:
        names = key.lower().split("\\")
        parents.update("\\".join(names[:depth]) for depth in range(1, len(names)))
    out = []
    for key, values in keys.items():
        if branch and not under(key, branch):
            continue
        # A key without values that has subkeys is implied by them: a registry file lists it
        # or not.
        if not key.endswith("\\") and (values or key.lower() not in parents):
            out.append("[%s]" % key)
        for name, (kind, data) in values.items():
            shown = data.encode("unicode_escape").decode() if isinstance(data, str) else data.hex()
            out.append("[%s] %r type %d %s" % (key, name, kind, shown))
    print("\n".join(sorted(out)))


if __name__ == "__main__":
    if sys.argv[1] == "merge-text":
        merge_text(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        dump(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
