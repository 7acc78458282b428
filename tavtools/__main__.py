"""Command line: ``python -m tavtools dump FILE``, ``summary FILE``,
``convert IN.gltf|IN.glb OUT.tav [--format 10|20]`` or
``preview FILE.tav -o FILE.png [--size 512]``."""

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


def _convert(args) -> int:
    from .convert import convert
    return convert(args.source, args.target, args.format, own_pools=True)


def _preview(args) -> int:
    from .preview import PreviewError, preview
    try:
        preview(args.file, args.output, args.size)
    except (FormatError, OSError, PreviewError) as error:
        print(f"tavtools preview: {args.file}: {error}", file=sys.stderr)
        return 1
    return 0


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python -m tavtools", description="Inspect, convert and preview TAV model files.")
    commands = parser.add_subparsers(dest="command", required=True)
    dump = commands.add_parser("dump", help="print the decoded file as JSON")
    dump.add_argument("file")
    dump.add_argument("--indent", type=int, default=None, help="indent JSON by this many spaces (default: one line)")
    summary = commands.add_parser("summary", help="print a short summary")
    summary.add_argument("file")
    convert = commands.add_parser("convert", help="convert a glTF 2.0 asset (.gltf or .glb) to a TAV file")
    convert.add_argument("source")
    convert.add_argument("target")
    convert.add_argument("--format", type=int, choices=(10, 20), default=10, help="TAV format version (default 10)")
    preview = commands.add_parser("preview", help="render a TAV file to a PNG image")
    preview.add_argument("file")
    preview.add_argument("-o", "--output", required=True, help="PNG file to write")
    preview.add_argument("--size", type=int, default=512, help="image width and height in pixels (default 512)")
    args = parser.parse_args(argv)

    if args.command == "convert":
        return _convert(args)
    if args.command == "preview":
        if not 16 <= args.size <= 8192:
            parser.error("--size must be between 16 and 8192")
        return _preview(args)

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
