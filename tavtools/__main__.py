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

from . import FormatError, read, summarize

_DESCRIPTION = "Inspect, validate, convert and preview TAV model files."
_EXAMPLES = {
    "dump": "example:\n  tavtools dump --indent 1 vehicle.tav > vehicle.json",
    "summary": "example:\n  tavtools summary vehicle.tav",
    "validate": ("exit status: 0 when the file is clean, 1 when it has errors (warnings alone give 0).\n\n"
                 "example:\n  tavtools validate vehicle.tav\n  tavtools validate --json vehicle.tav > report.json"),
    "convert": ("exit status: 0 when nothing was lost, 2 when something was not converted (one\n"
                "line per loss on standard error, naming it by its glTF path; the file is written\n"
                "unless --strict), 1 when nothing was written for another reason.\n\n"
                "example:\n  tavtools convert helicopter.glb build/helicopter.tav --format 20\n"
                "  tavtools convert helicopter.gltf out/helicopter.tav --copy-textures --strict"),
    "preview": ("example:\n  tavtools preview vehicle.tav -o vehicle.png\n"
                "  tavtools preview vehicle.tav -o open.png --argument 0=1 --argument 3=0.5"),
}


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


def _argument(text: str):
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

    def command(name, text):
        return commands.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".",
                                   epilog=_EXAMPLES[name], formatter_class=argparse.RawDescriptionHelpFormatter)

    dump = command("dump", "print the decoded file as JSON")
    dump.add_argument("file", help="TAV file (format 10 or 2.0)")
    dump.add_argument("--indent", type=int, default=None, help="indent JSON by this many spaces (default: one line)")

    summary = command("summary", "print what the file holds: nodes, materials, geometry, arguments")
    summary.add_argument("file", help="TAV file (format 10 or 2.0)")

    validate = command("validate", "read the whole file and list every problem found")
    validate.add_argument("file", help="TAV file (format 10 or 2.0)")
    validate.add_argument("--json", action="store_true", help="print the report as JSON instead of one line each")

    convert = command("convert", "convert a glTF 2.0 asset (.gltf or .glb) to a TAV file")
    convert.add_argument("source", help="glTF asset to read (.gltf or .glb)")
    convert.add_argument("target", help="TAV file to write; embedded images are written beside it")
    convert.add_argument("--format", type=int, choices=(10, 20), default=10, help="TAV format version (default 10)")
    convert.add_argument("--strict", action="store_true",
                         help="write nothing when anything would be lost (exit status 2)")
    convert.add_argument("--no-rename", action="store_true",
                         help="write nothing when an image to write beside the target would need another name "
                              "because a file of its name is there (default: take a free name)")
    convert.add_argument("--copy-textures", action="store_true",
                         help="copy external images beside the target (default: refer to them where they are)")

    preview = command("preview", "render a TAV file to a PNG image")
    preview.add_argument("file", help="TAV file (format 10 or 2.0)")
    preview.add_argument("-o", "--output", required=True, help="PNG file to write")
    preview.add_argument("--size", type=int, default=512, help="image width and height in pixels (default 512)")
    preview.add_argument("--argument", type=_argument, action="append", default=[], metavar="N=VALUE",
                         help="evaluate animation and visibility with argument N at VALUE (default 0; repeatable)")
    return parser


def _convert(args) -> int:
    from .convert import convert
    return convert(args.source, args.target, args.format, own_pools=True, strict=args.strict,
                   copy_textures=args.copy_textures, rename=not args.no_rename)


def _preview(args) -> int:
    from .preview import PreviewError, preview
    try:
        preview(args.file, args.output, args.size, dict(args.argument), progress=sys.stderr)
    except (FormatError, OSError, PreviewError) as error:
        print(f"tavtools preview: {args.file}: {error}", file=sys.stderr)
        return 1
    return 0


def _validate(args) -> int:
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
    return 1 if report.errors else 0


def main(argv=None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    try:
        if args.command == "convert":
            return _convert(args)
        if args.command == "preview":
            if not 16 <= args.size <= 8192:
                parser.error("--size must be between 16 and 8192")
            return _preview(args)
        if args.command == "validate":
            code = _validate(args)
            sys.stdout.flush()
            return code
        try:
            model = read(args.file)
        except (FormatError, OSError) as error:
            print(f"tavtools: {args.file}: {error}", file=sys.stderr)
            return 1
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


def console() -> None:
    """Entry of the installed ``tavtools`` command."""
    sys.exit(main())


if __name__ == "__main__":
    sys.exit(main())
