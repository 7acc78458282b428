"""Command line of tavtools: ``tavtools COMMAND ...`` or ``python -m tavtools COMMAND ...``.

Commands: ``dump`` and ``summary`` (decode a TAV file), ``validate`` (list
every problem of a TAV file), ``convert`` (glTF 2.0 to TAV) and ``preview``
(render a TAV file to a PNG).  ``main`` returns the exit status.
"""

import argparse
import json
import math
import os
import sys
from typing import Any

from . import FormatError, read, summarize

_DESCRIPTION = "Inspect, validate, convert and preview TAV model files."
_EXAMPLES = {
    "dump": "example:\n  tavtools dump --indent 1 vehicle.tav > vehicle.json",
    "summary": "example:\n  tavtools summary vehicle.tav",
    "validate": ("exit status: 0 when the file is clean, 1 when it has errors (warnings alone give 0).\n\n"
                 "example:\n  tavtools validate vehicle.tav\n  tavtools validate --json vehicle.tav > report.json"),
    "convert": ("exit status: 0 when nothing was lost, 2 when the file was written but something\n"
                "was not converted (one line per loss on standard error, naming it by its glTF\n"
                "path), 1 when nothing was written.\n\n"
                "example:\n  tavtools convert helicopter.glb build/helicopter.tav --format 20\n"
                "  tavtools convert helicopter.gltf out/helicopter.tav --copy-textures --strict"),
    "preview": ("example:\n  tavtools preview vehicle.tav -o vehicle.png\n"
                "  tavtools preview vehicle.tav -o open.png --argument 0=1 --argument 3=0.5"),
}


def _json_safe(value: Any) -> Any:
    # JSON has no NaN or infinity; vertex data may hold them, so they become
    # strings rather than making the dump unparsable.
    if isinstance(value, float) and not math.isfinite(value):
        return str(value)
    if isinstance(value, dict):
        return {key: _json_safe(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_json_safe(item) for item in value]
    return value


def _version() -> str:
    try:
        from importlib.metadata import PackageNotFoundError, version
        try:
            text = f"tavtools {version('pytav')}"
        except PackageNotFoundError:
            text = "tavtools (not installed)"
    except ImportError:
        text = "tavtools"
    try:
        import pytav
        text += f" (pytav module {pytav.get_version()})"
    except ImportError:
        text += " (pytav module not available)"
    return text


def _argument(text: str) -> tuple[int, float]:
    """An ``N=VALUE`` pair of --argument."""
    number, equals, value = text.partition("=")
    try:
        if not equals:
            raise ValueError
        parsed = (int(number), float(value))
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not NUMBER=VALUE (say 3=0.5)") from None
    if parsed[0] < 0 or not math.isfinite(parsed[1]):
        raise argparse.ArgumentTypeError(f"{text!r}: the number must be 0 or more and the value finite")
    return parsed


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tavtools", description=_DESCRIPTION)
    parser.add_argument("--version", action="version", version=_version(),
                        help="print the versions of tavtools and the pytav module and exit")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def command(name: str, text: str) -> argparse.ArgumentParser:
        return commands.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".",
                                   epilog=_EXAMPLES[name], formatter_class=argparse.RawDescriptionHelpFormatter)

    dump = command("dump", "print the decoded file as JSON")
    dump.add_argument("file", help="TAV file (format 10 or 2.0)")
    dump.add_argument("--indent", type=int, default=None, help="indent JSON by this many spaces (default: one line)")
    dump.set_defaults(func=_dump)

    summary = command("summary", "print what the file holds: nodes, materials, geometry, arguments")
    summary.add_argument("file", help="TAV file (format 10 or 2.0)")
    summary.set_defaults(func=_summary)

    validate = command("validate", "read the whole file and list every problem found")
    validate.add_argument("file", help="TAV file (format 10 or 2.0)")
    validate.add_argument("--json", action="store_true", help="print the report as JSON instead of one line each")
    validate.set_defaults(func=_validate)

    convert = command("convert", "convert a glTF 2.0 asset (.gltf or .glb) to a TAV file")
    convert.add_argument("source", help="glTF asset to read (.gltf or .glb)")
    convert.add_argument("target", help="TAV file to write; embedded images are written beside it")
    convert.add_argument("--format", type=int, choices=(10, 20), default=10, help="TAV format version (default 10)")
    convert.add_argument("--strict", action="store_true",
                         help="treat any loss as an error: exit status 1 and no file written")
    convert.add_argument("--copy-textures", action="store_true",
                         help="copy external images beside the target (default: refer to them where they are)")
    convert.set_defaults(func=_convert)

    preview = command("preview", "render a TAV file to a PNG image")
    preview.add_argument("file", help="TAV file (format 10 or 2.0)")
    preview.add_argument("-o", "--output", required=True, help="PNG file to write")
    preview.add_argument("--size", type=int, default=512, help="image width and height in pixels (default 512)")
    preview.add_argument("--argument", type=_argument, action="append", default=[], metavar="N=VALUE",
                         help="evaluate animation and visibility with argument N at VALUE (default 0; repeatable)")
    preview.set_defaults(func=_preview)
    return parser


# Each command: (parsed arguments, the parser for usage errors) -> exit status.

def _read_model(args: argparse.Namespace) -> dict[str, Any] | None:
    try:
        return read(args.file)
    except (FormatError, OSError) as error:
        print(f"tavtools: {args.file}: {error}", file=sys.stderr)
        return None


def _dump(args: argparse.Namespace, _parser: argparse.ArgumentParser) -> int:
    model = _read_model(args)
    if model is None:
        return 1
    json.dump(_json_safe(model), sys.stdout, indent=args.indent, allow_nan=False)
    sys.stdout.write("\n")
    sys.stdout.flush()
    return 0


def _summary(args: argparse.Namespace, _parser: argparse.ArgumentParser) -> int:
    model = _read_model(args)
    if model is None:
        return 1
    print(summarize(model))
    sys.stdout.flush()
    return 0


def _convert(args: argparse.Namespace, _parser: argparse.ArgumentParser) -> int:
    from .convert import convert
    return int(convert(args.source, args.target, args.format, own_pools=True, strict=args.strict,
                       copy_textures=args.copy_textures))


def _preview(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    from .preview import PreviewError, preview
    if not 16 <= args.size <= 8192:
        parser.error("--size must be between 16 and 8192")
    try:
        preview(args.file, args.output, args.size, dict(args.argument), progress=sys.stderr)
    except (FormatError, OSError, PreviewError) as error:
        print(f"tavtools preview: {args.file}: {error}", file=sys.stderr)
        return 1
    return 0


def _validate(args: argparse.Namespace, _parser: argparse.ArgumentParser) -> int:
    from .validate import validate
    try:
        with open(args.file, "rb") as handle:
            data = handle.read()
    except OSError as error:
        print(f"tavtools validate: {args.file}: {error.strerror or error}", file=sys.stderr)
        return 1
    report = validate(data)
    if args.json:
        json.dump(report.as_json(args.file), sys.stdout, indent=1, allow_nan=False)
        sys.stdout.write("\n")
    else:
        for issue in report.issues:
            print(f"{args.file}: {issue}")
        print(f"{args.file}: {report.counts_text()}")
    sys.stdout.flush()
    return 1 if report.errors else 0


def main(argv: list[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    try:
        return int(args.func(args, parser))
    except BrokenPipeError:
        # The reader (head, less) went away; say nothing more on a dead pipe.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1


def console() -> None:
    """Entry of the installed ``tavtools`` command."""
    sys.exit(main())


if __name__ == "__main__":
    sys.exit(main())
