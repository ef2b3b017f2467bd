import os
from typing import Iterable, List, Literal, Optional, Sequence, Tuple, Union, overload

__version__: str
# The InChI library built against: "InChI library 1.03 (Debian 1.03+dfsg-4+b2)".
library_version: str

# An InChI string, or a missing value (None, float NaN).
InChI = Union[str, bytes, None, float]
Verdict = Literal["agree", "differs", "missing", "failed"]
# None: no validation; "syntax": the library's syntax check; "structure": and
# the structure round trip.
Validation = Optional[Literal["syntax", "structure"]]

def inchikey(
    inchi: InChI, *, standard: bool = False, validate: Validation = None
) -> Optional[str]:
    """The 27-character InChIKey, or None when the library gives none."""

def inchikeys(
    inchis: Iterable[InChI],
    threads: int = 0,
    *,
    standard: bool = False,
    validate: Validation = None,
) -> List[Optional[str]]:
    """The keys of the strings, aligned with them; None where there is none."""

@overload
def check(
    inchis: Iterable[InChI],
    keys: Iterable[InChI],
    threads: int = 0,
    *,
    standard: bool = False,
    validate: Validation = None,
    details: Literal[False] = False,
) -> List[Optional[Verdict]]:
    """molstamp -c's verdict on each stored key; None where the InChI is missing."""

@overload
def check(
    inchis: Iterable[InChI],
    keys: Iterable[InChI],
    threads: int = 0,
    *,
    standard: bool = False,
    validate: Validation = None,
    details: Literal[True],
) -> List[Union[Tuple[Verdict, str], Tuple[None, None]]]:
    """(verdict, difference) pairs, as molstamp -c --difference; (None, None) where no verdict."""

def main(args: Optional[Sequence[Union[str, bytes, os.PathLike]]] = None) -> int:
    """Runs the molstamp tool with args; returns its exit status."""
