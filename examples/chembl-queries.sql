-- Identifier QA of ChEMBL's compound_structures with molstamp's SQL functions,
-- in SQLite (.load molstamp) and PostgreSQL (CREATE EXTENSION molstamp).
-- tools/make_chembl_sqlite.py builds a small table to try them on.

-- wrong_keys: the rows whose stored key is not their InChI's key. IS DISTINCT
-- FROM rather than <>, so that an InChI that gives no key is listed too.
SELECT molregno, standard_inchi_key, inchikey(standard_inchi) AS computed_key,
       inchikey_difference(standard_inchi_key, inchikey(standard_inchi)) AS difference
FROM compound_structures
WHERE inchikey(standard_inchi) IS DISTINCT FROM standard_inchi_key
ORDER BY molregno;

-- not_standard: the InChIs that are not valid standard ones, and why. The
-- 'structure' level reads each structure (about 0.3 ms a row), which finds
-- a cut InChI that the syntax alone lets through.
SELECT molregno, problem
FROM (SELECT molregno,
             CASE WHEN NOT inchi_valid(standard_inchi, 'structure') THEN 'invalid'
                  WHEN substr(standard_inchi, 1, 9) <> 'InChI=1S/' THEN 'non-standard'
             END AS problem
      FROM compound_structures) AS checked
WHERE problem IS NOT NULL
ORDER BY molregno;

-- key_column (SQLite): a column that is always its InChI's key. SQLite adds
-- only VIRTUAL generated columns to a table (computed when read).
ALTER TABLE compound_structures
  ADD COLUMN computed_inchi_key TEXT GENERATED ALWAYS AS (inchikey(standard_inchi)) VIRTUAL;

-- key_column (PostgreSQL): the same; its generated columns are STORED (computed
-- when a row is written).
ALTER TABLE compound_structures
  ADD COLUMN computed_inchi_key text GENERATED ALWAYS AS (inchikey(standard_inchi)) STORED;
