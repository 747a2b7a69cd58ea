#!/usr/bin/python3
"""Holds every JSON report the end-to-end tests kept to velk's report schema.

    check_reports.py SCHEMA REPORT_DIR GOOD_DOCUMENT

First the schema is shown to mean something: GOOD_DOCUMENT, written by
hand, must be valid, and each of a table of small changes to it, each one
a mistake a change to velk could make, must make it invalid. Then every
REPORT_DIR/*.json must be valid; each one that is not is named, with the
command line that printed it and the reasons. No reports at all is a
failure: it means the tests that print them did not run or kept nothing.

Exit status: 0 all held, 1 a check failed, 77 this python3 has no
jsonschema module (the test is then skipped).
"""

import copy
import json
import pathlib
import sys

try:
    import jsonschema
except ImportError:
    print("skipped: /usr/bin/python3 has no jsonschema module (Debian: python3-jsonschema)")
    sys.exit(77)


def merged(d):
    return d["files"][0]


def padded(d):
    return d["files"][1]


def first_problem(d):
    return merged(d)["problems"][0]


def put(path, value):
    """A change that sets d[path...] to value."""
    def change(d):
        target = d
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = value
    return change


def drop(path):
    def change(d):
        target = d
        for key in path[:-1]:
            target = target[key]
        del target[path[-1]]
    return change


# Each row: what is wrong, and the change that makes it so.
BAD = [
    ("a count as a string", put(["files", 0, "size"], "155376")),
    ("a negative offset", put(["files", 0, "problems", 0, "offset"], -1)),
    ("a CRC that is not an integer", put(["files", 0, "fields", "stack_header", "crc"], 1.5)),
    ("a CRC past 32 bits", put(["files", 0, "fields", "stack_header", "crc"], 1 << 32)),
    ("a key the document does not have", put(["warnings"], [])),
    ("a key a file does not have", put(["files", 0, "checksum"], 0)),
    ("a key a problem does not have", put(["files", 0, "problems", 0, "severity"], "error")),
    ("a key a header does not have", put(["files", 0, "fields", "app_header", "crc_matches"], True)),
    ("a field its check does not use", put(["files", 0, "problems", 0, "index"], 3)),
    ("a field its check uses, left out", drop(["files", 0, "problems", 0, "count"])),
    ("a required file key left out", drop(["files", 0, "problem_counts"])),
    ("an unknown kind", put(["files", 0, "kind"], "merged-image")),
    ("an unknown check", put(["files", 0, "problems", 0, "check"], "fill")),
    ("an unknown check among the counts", put(["files", 0, "problem_counts"], {"fill": 1})),
    ("a part its check is never about", put(["files", 0, "problems", 0, "part"], "app")),
    ("an unknown map region", put(["files", 0, "fields", "map", 0, "region"], "bootloader")),
    ("lower-case hexadecimal", put(["files", 0, "fields", "stack_header", "uid_hex"], "0x0102abcd")),
    ("too few hexadecimal digits", put(["files", 0, "fields", "stack_header", "crc_hex"], "0x12")),
    ("a flash image's fields on a merged image", put(["files", 0, "fields", "blocks"], 3)),
    ("a padded image without its padding", drop(["files", 1, "fields", "padding"])),
    ("a fill without erased", drop(["files", 0, "fields", "map", 1, "erased"])),
    ("erased on a region that is not a fill", put(["files", 0, "fields", "map", 0, "erased"], True)),
    ("an image with an error", put(["files", 1, "error"], "p.bin: read error")),
    ("an input's keys on an image", put(["files", 1, "segments"], [])),
    ("the document ok with a failing file", put(["ok"], True)),
    ("a file ok in verify with problems", put(["files", 0, "ok"], True)),
    ("another shape version", put(["velk_json"], 2)),
    ("a command without --json", put(["command"], "crc")),
]


def errors_of(validator, document):
    return sorted(validator.iter_errors(document), key=lambda e: list(e.absolute_path))


def describe(error):
    where = "/".join(str(p) for p in error.absolute_path) or "(document)"
    return f"{where}: {error.message}"


def check_schema_means_something(validator, good_path):
    good = json.loads(pathlib.Path(good_path).read_text())
    failures = [f"{good_path}: the hand-written document is invalid: {describe(e)}"
                for e in errors_of(validator, good)]
    if failures:
        return failures
    for what, change in BAD:
        bad = copy.deepcopy(good)
        change(bad)
        if validator.is_valid(bad):
            failures.append(f"the schema accepts {what}")
    return failures


def check_reports(validator, report_dir):
    reports = sorted(pathlib.Path(report_dir).glob("*.json"))
    if not reports:
        return 0, [f"{report_dir}: no JSON reports: the end-to-end tests kept none"]
    failures = []
    for path in reports:
        args = path.with_suffix(".args")
        command = "velk " + " ".join(args.read_text().splitlines()) if args.exists() else "(command unknown)"
        try:
            document = json.loads(path.read_text())
        except ValueError as e:
            failures.append(f"{path.name} ({command}): not JSON: {e}")
            continue
        errors = errors_of(validator, document)
        if errors:
            reasons = "\n    ".join(describe(e) for e in errors[:5])
            failures.append(f"{path.name} ({command}):\n    {reasons}")
    return len(reports), failures


def main(schema_path, report_dir, good_path):
    schema = json.loads(pathlib.Path(schema_path).read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    failures = check_schema_means_something(validator, good_path)
    count, report_failures = check_reports(validator, report_dir)
    failures += report_failures
    for f in failures:
        print(f)
    print(f"{count} reports checked, {len(BAD)} wrong documents tried, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
