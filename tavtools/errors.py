"""The one exception type of the inspector."""

from collections.abc import Iterable


class FormatError(ValueError):
    """A file that does not follow the layout it claims.

    ``offset`` is the byte offset where decoding stopped (the start of the
    field that was wrong or could not be read); ``context`` names the
    records being decoded at that moment, outermost first.
    """

    def __init__(self, message: str, offset: int, context: Iterable[str] = ()) -> None:
        self.message = message
        self.offset = offset
        self.context = tuple(context)
        text = f"{message} at offset {offset}"
        if self.context:
            text += " (in " + " > ".join(self.context) + ")"
        super().__init__(text)
