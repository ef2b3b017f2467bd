"""A pandas column in, a column out."""
import pandas
import pytest

import molstamp


def test_series_in_and_out(reference):
    rows = reference[:2000] + [(None, None), ("InChI=1S/", None)]
    df = pandas.DataFrame(rows, columns=["inchi", "reference"])
    df.loc[3, "inchi"] = float("nan")
    df.loc[3, "reference"] = None
    df["inchikey"] = molstamp.inchikeys(df["inchi"])
    assert df["inchikey"].tolist() == df["reference"].tolist()
    assert df["inchikey"].isna().sum() == 3


def test_check_a_key_column(reference):
    df = pandas.DataFrame(reference, columns=["inchi", "inchikey"])
    df.loc[[100, 5000], "inchikey"] = "UHOVQNZJYSORNB-UHFFFAOYSA-X"
    df.loc[200, "inchikey"] = None
    df.loc[300, "inchi"] = "InChI=1S/"
    df["verdict"] = molstamp.check(df["inchi"], df["inchikey"])
    wrong = df[df["verdict"] != "agree"]
    assert wrong["verdict"].to_dict() == {100: "differs", 200: "missing", 300: "failed",
                                          5000: "differs"}


def test_string_columns_missing_values(reference):
    # A string-dtype column's missing value is pd.NA; a datetime's pd.NaT.
    df = pandas.DataFrame(reference[:3], columns=["inchi", "key"]).astype("string")
    df.loc[1, "inchi"] = pandas.NA
    df.loc[2, "key"] = pandas.NA
    assert molstamp.inchikeys(df["inchi"]) == [reference[0][1], None, reference[2][1]]
    assert molstamp.check(df["inchi"], df["key"]) == ["agree", None, "missing"]
    assert molstamp.inchikey(pandas.NA) is None and molstamp.inchikey(pandas.NaT) is None


# Each case: a call given a whole DataFrame where a column belongs.
FRAME_CASES = {
    "inchikeys": lambda df: molstamp.inchikeys(df),
    "check, the InChIs": lambda df: molstamp.check(df, df["key"]),
    "check, the keys": lambda df: molstamp.check(df["inchi"], df),
}


@pytest.mark.parametrize("case", FRAME_CASES)
def test_a_dataframe_is_no_column(case, reference):
    df = pandas.DataFrame(reference[:3], columns=["inchi", "key"])
    with pytest.raises(TypeError, match=r"^a DataFrame: pass one column, e\.g\. df\['inchi'\]$"):
        FRAME_CASES[case](df)
