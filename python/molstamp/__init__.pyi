import os
from typing import Iterable, List, Literal, Optional, Sequence, Union

__version__: str

# An InChI string, or a missing value (None, float NaN).
InChI = Union[str, bytes, None, float]
Verdict = Literal["agree", "differs", "missing", "failed"]

def inchikey(inchi: InChI) -> Optional[str]:
    """The 27-character InChIKey, or None when the library gives none."""

def inchikeys(inchis: Iterable[InChI], threads: int = 0) -> List[Optional[str]]:
    """The keys of the strings, aligned with them; None where there is none."""

def check(
    inchis: Iterable[InChI], keys: Iterable[InChI], threads: int = 0
) -> List[Optional[Verdict]]:
    """molstamp -c's verdict on each stored key; None where the InChI is missing."""

def main(args: Optional[Sequence[Union[str, bytes, os.PathLike]]] = None) -> int:
    """Runs the molstamp tool with args; returns its exit status."""
