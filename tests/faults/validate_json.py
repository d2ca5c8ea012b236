"""Validates JSON files against a JSON Schema.

validate_json.py SCHEMA [--lines] FILE...
Each FILE is one JSON document, or with --lines one document per line.
Exit status: 0 all valid, 1 a file is invalid, 77 jsonschema is not installed.
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(77)


def strict_constant(name):
    raise ValueError("not JSON: " + name)


def main():
    schema = json.load(open(sys.argv[1], encoding="utf-8"))
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    lines = "--lines" in sys.argv[2:]
    failures = 0
    for path in [a for a in sys.argv[2:] if a != "--lines"]:
        # Strict UTF-8, as a server would read it.
        text = open(path, "rb").read().decode("utf-8")
        documents = text.splitlines() if lines else [text]
        for number, document in enumerate(documents, 1):
            try:
                instance = json.loads(document, parse_constant=strict_constant)
                validator.validate(instance)
            except (ValueError, jsonschema.ValidationError) as error:
                failures += 1
                print(f"{path}:{number}: {error}", file=sys.stderr)
    sys.exit(1 if failures else 0)


main()
