"""Command line of tavtools: ``tavtools COMMAND ...`` or ``python -m tavtools COMMAND ...``.

Commands: ``dump`` and ``summary`` (decode a TAV file), ``validate`` (list
every problem of a TAV file), ``convert`` (glTF 2.0 to TAV) and ``preview``
(render a TAV file to a PNG).  ``main`` returns the exit status.
"""

import argparse
import json
import math
import os
import re
import sys
import threading
from collections.abc import Sequence
from typing import Any, Literal

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


class _VersionAction(argparse.Action):
    """--version, which loads the module only when asked."""

    def __init__(self, option_strings: Sequence[str], dest: str = argparse.SUPPRESS, default: Any = argparse.SUPPRESS,
                 help: str | None = None) -> None:
        super().__init__(option_strings, dest, nargs=0, default=default, help=help)

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        with _ModuleLogFilter(getattr(namespace, "verbose", False)):
            text = _version()
        print(text)
        parser.exit()


# A line of the module's log: "YYYY-MM-DD hh:mm:ss.mmm LEVEL ...", the level
# perhaps coloured.
_QUIET_LOG_LINE = re.compile(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (?:\x1b\[[0-9;]*m)?(?:INFO|DEBUG)\b")


class _ModuleLogFilter:
    """Holds back the module's DEBUG and INFO lines on standard error.

    The module writes its log straight to file descriptor 2, out of reach of
    Python's streams; for the command's run the descriptor is a pipe, and a
    thread passes on every line but those.  Verbose, or without a usable
    descriptor 2, it does nothing.
    """

    def __init__(self, verbose: bool) -> None:
        self.active = not verbose
        self.stderr: int | None = None
        self.thread: threading.Thread | None = None

    def __enter__(self) -> "_ModuleLogFilter":
        if not self.active:
            return self
        sys.stderr.flush()
        try:
            self.stderr = os.dup(2)
            read_end, write_end = os.pipe()
        except OSError:
            if self.stderr is not None:
                os.close(self.stderr)
            self.active = False
            return self
        os.dup2(write_end, 2)
        os.close(write_end)
        self.thread = threading.Thread(target=self._pass_on, args=(read_end,), name="tavtools-log", daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc: object) -> Literal[False]:
        if not self.active or self.stderr is None or self.thread is None:
            return False
        try:
            sys.stderr.flush()
        except (OSError, ValueError):
            pass
        os.dup2(self.stderr, 2)  # the pipe's last writer goes: the thread reads to its end
        self.thread.join()
        os.close(self.stderr)
        return False

    def _pass_on(self, read_end: int) -> None:
        stderr = self.stderr
        assert stderr is not None
        with os.fdopen(read_end, "rb") as pipe:
            for line in pipe:
                if _QUIET_LOG_LINE.match(line):
                    continue
                view = memoryview(line)
                try:
                    while view:
                        view = view[os.write(stderr, view):]
                except OSError:
                    pass  # standard error is gone; the rest is read and dropped


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
    verbose = "also show the pytav module's DEBUG and INFO log lines on standard error"
    parser.add_argument("-v", "--verbose", action="store_true", help=verbose)
    parser.add_argument("--version", action=_VersionAction,
                        help="print the versions of tavtools and the pytav module and exit")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def command(name: str, text: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=text, description=text[0].upper() + text[1:] + ".",
                                  epilog=_EXAMPLES[name], formatter_class=argparse.RawDescriptionHelpFormatter)
        # Given after the command as well; absent there, the one before it counts.
        sub.add_argument("-v", "--verbose", action="store_true", default=argparse.SUPPRESS, help=verbose)
        return sub

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
    # A damaged file may name things in bytes that are no UTF-8 (kept as
    # escapes): shown escaped rather than failing the output.
    for stream in (sys.stdout, sys.stderr):
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="backslashreplace")
    parser = _parser()
    try:
        args = parser.parse_args(argv)
        with _ModuleLogFilter(args.verbose):
            return _run(parser, args)
    except KeyboardInterrupt:
        print("tavtools: interrupted", file=sys.stderr)
        return 130


def _run(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
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
