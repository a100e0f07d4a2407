"""Counts the requests in a Wine server log (`wineserver -d1`) of one step.

    python3 wine_requests.py LOG

Prints "all=N own=N own_registry=N own_files=N own_other=N": every request, those of the thread
that made the most (the program itself), and its own split into registry requests, file opens
and the rest (reads of what it opened, waits, handles closed, the process's start).
"""
import collections
import re
import sys

REQUEST = re.compile(r"^([0-9a-f]+): ([a-z0-9_]+)\( ")
REGISTRY = {
    "open_key", "create_key", "enum_key", "enum_key_value", "get_key_value", "set_key_value",
    "delete_key", "delete_key_value", "flush_key", "load_registry", "unload_registry",
}
FILES = {"create_file", "open_file_object"}


def main(path):
    requests = []
    with open(path, errors="replace") as log:
        for line in log:
            m = REQUEST.match(line)
            if m:
                requests.append((m.group(1), m.group(2)))
    threads = collections.Counter(thread for thread, _ in requests)
    own = threads.most_common(1)[0][0] if threads else None
    mine = [name for thread, name in requests if thread == own]
    registry = sum(name in REGISTRY for name in mine)
    files = sum(name in FILES for name in mine)
    print(f"all={len(requests)} own={len(mine)} own_registry={registry} own_files={files} "
          f"own_other={len(mine) - registry - files}")


if __name__ == "__main__":
    main(sys.argv[1])
