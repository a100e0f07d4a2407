#!/usr/bin/env python3
"""Checks one --json output against the schema in docs/cli.md.

    json_schema.py DOCS_CLI_MD OUTPUT_FILE [COMMAND]

Exits 1, saying why, when the output is not one JSON object of that schema (or, with COMMAND,
not of that command)."""
import json
import re
import sys

TYPES = {"int": int, "bool": bool, "string": str, "null": type(None), "array": list,
         "object": dict}


def schema_from(doc):
    block = re.search(r"## The JSON schema\n.*?```json\n(.*?)```", doc, re.S)
    if not block:
        sys.exit("no schema in the document")
    return json.loads(block.group(1))


def reasons_from(doc):
    # The codes of the table of reasons: rows "| `code` | meaning |".
    table = re.search(r"\| reason \| meaning \|\n\|---\|---\|\n((?:\|.*\n)+)", doc)
    if not table:
        sys.exit("no table of reasons in the document")
    return set(re.findall(r"^\| `([a-z_]+)` \|", table.group(1), re.M))


def type_ok(value, kind):
    # bool is an int to Python: "int" must not take it.
    for name in kind.split("|"):
        wanted = TYPES[name]
        if wanted is int and isinstance(value, bool):
            continue
        if isinstance(value, wanted):
            return True
    return False


def check(obj, shape, where, schema):
    problems = []
    required, optional = shape.get("required", {}), shape.get("optional", {})
    for key, kind in required.items():
        if key not in obj:
            problems.append(f"{where}: no {key}")
    for key, value in obj.items():
        kind = required.get(key) or optional.get(key)
        if kind is None:
            problems.append(f"{where}: {key} is not in the schema")
        elif not type_ok(value, kind):
            problems.append(f"{where}: {key} is not {kind}: {value!r}")
        elif isinstance(value, list) and key in schema["elements"] and "." not in where:
            for i, element in enumerate(value):
                if not isinstance(element, dict):
                    problems.append(f"{where}.{key}[{i}] is not an object")
                else:
                    problems += check(element, schema["elements"][key], f"{where}.{key}[{i}]",
                                      schema)
                    reason = element.get("reason")
                    if key == "editions" and reason is not None and \
                            reason not in schema["reasons"]:
                        problems.append(f"{where}.{key}[{i}]: reason {reason!r} is not listed")
                    result = element.get("result")
                    if key == "users" and isinstance(result, dict):
                        problems += check_object(result, f"{where}.{key}[{i}].result", schema)
                    outcome = element.get("outcome")
                    if key == "editions" and outcome is not None and \
                            outcome not in schema["outcomes"]:
                        problems.append(f"{where}.{key}[{i}]: outcome {outcome!r} is not listed")
    return problems


def check_object(obj, where, schema):
    """One command's object, as a whole output or as one user's result."""
    if obj.get("format") != 1:
        return [f"{where}: not of format 1"]
    command = obj.get("command")
    if command not in schema or (command == "all-users" and where != command):
        return [f"{where}: command {command!r} is not in the schema"]
    # Checked as a whole output would be, its problems told where it is.
    problems = check(obj, schema[command], command, schema)
    return problems if where == command else [f"{where}: {p}" for p in problems]


def main():
    doc = open(sys.argv[1], encoding="utf-8").read()
    schema = schema_from(doc)
    schema["reasons"] = reasons_from(doc)
    try:
        obj = json.loads(open(sys.argv[2], "rb").read().decode("utf-8"))
    except ValueError as error:
        sys.exit(f"not one JSON object: {error}")
    if not isinstance(obj, dict) or obj.get("format") != 1:
        sys.exit(f"not an object of format 1: {obj!r}")
    command = obj.get("command")
    if len(sys.argv) > 3 and (command or "").split()[0] != sys.argv[3]:
        sys.exit(f"command {command!r}, not {sys.argv[3]!r}")
    problems = check_object(obj, command, schema)
    if problems:
        sys.exit("\n".join(problems))


main()
