#!/usr/bin/python3
"""Checks every line of an NDJSON event file against the events schema.

Usage: check_events.py SCHEMA EVENTS
Prints each event that does not match, with why, and exits 1 when any does not.
"""
import json
import sys

import jsonschema


def main():
    schema_path, events_path = sys.argv[1], sys.argv[2]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(
        schema, format_checker=jsonschema.Draft202012Validator.FORMAT_CHECKER)
    bad = 0
    count = 0
    with open(events_path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            count += 1
            try:
                event = json.loads(line)
            except json.JSONDecodeError as error:
                print(f"line {number}: not JSON: {error}")
                bad += 1
                continue
            for error in validator.iter_errors(event):
                print(f"line {number}: {error.message}: {line.strip()}")
                bad += 1
    if count == 0:
        print("no events")
        return 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
