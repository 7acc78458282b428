"""Command line: ``python -m tavtools dump FILE`` or ``summary FILE``."""

import argparse
import json
import math
import os
import sys

from . import FormatError, read, summarize


def _json_safe(value):
    # JSON has no NaN or infinity; vertex data may hold them, so they become
    # strings rather than making the dump unparsable.
    if isinstance(value, float) and not math.isfinite(value):
        return str(value)
    if isinstance(value, dict):
        return {key: _json_safe(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_json_safe(item) for item in value]
    return value


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python -m tavtools", description="Inspect TAV model files.")
    commands = parser.add_subparsers(dest="command", required=True)
    dump = commands.add_parser("dump", help="print the decoded file as JSON")
    dump.add_argument("file")
    dump.add_argument("--indent", type=int, default=None, help="indent JSON by this many spaces (default: one line)")
    summary = commands.add_parser("summary", help="print a short summary")
    summary.add_argument("file")
    args = parser.parse_args(argv)

    try:
        model = read(args.file)
    except (FormatError, OSError) as error:
        print(f"tavtools: {args.file}: {error}", file=sys.stderr)
        return 1
    try:
        if args.command == "dump":
            json.dump(_json_safe(model), sys.stdout, indent=args.indent, allow_nan=False)
            sys.stdout.write("\n")
        else:
            print(summarize(model))
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader (head, less) went away; say nothing more on a dead pipe.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
