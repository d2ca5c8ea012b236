"""validate_json.py SCHEMA FILE... [--lines FILE...]

Each FILE is one JSON document; after --lines, one document per line. Read as a
server would: strict UTF-8, no NaN or Infinity. Exit status 1 when any is invalid.
"""
import json
import sys

import jsonschema


def refuse(name):
    raise ValueError("not JSON: " + name)


schema = json.load(open(sys.argv[1], encoding="utf-8"))
validator = jsonschema.validators.validator_for(schema)(schema)
validator.check_schema(schema)
failures, per_line = 0, False
for path in sys.argv[2:]:
    if path == "--lines":
        per_line = True
        continue
    text = open(path, "rb").read().decode("utf-8")
    for number, document in enumerate(text.removesuffix("\n").split("\n") if per_line else [text], 1):
        try:
            validator.validate(json.loads(document, parse_constant=refuse))
        except (ValueError, jsonschema.ValidationError) as error:
            failures += 1
            print(f"{path}:{number}: {error}", file=sys.stderr)
sys.exit(1 if failures else 0)
