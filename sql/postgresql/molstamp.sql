-- The molstamp functions, on text and bytea arguments alike.
\echo Use "CREATE EXTENSION molstamp" to load this file. \quit

-- COST is in cpu_operator_cost units: a key call is some tens of
-- microseconds, a structure call some hundreds, which lets the planner see
-- that a parallel plan pays for itself.

CREATE FUNCTION inchikey(inchi text) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 100;
CREATE FUNCTION inchikey(inchi bytea) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 100;
COMMENT ON FUNCTION inchikey(text) IS 'the InChIKey of an InChI; NULL when the InChI library gives none';

CREATE FUNCTION inchikey_standard(inchi text) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey_standard'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 1000;
CREATE FUNCTION inchikey_standard(inchi bytea) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey_standard'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 1000;
COMMENT ON FUNCTION inchikey_standard(text) IS 'the standard InChIKey: of the structure''s standard InChI for a non-standard one (molstamp -s)';

CREATE FUNCTION inchi_valid(inchi text) RETURNS boolean
  AS 'MODULE_PATHNAME', 'molstamp_inchi_valid'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 100;
CREATE FUNCTION inchi_valid(inchi bytea) RETURNS boolean
  AS 'MODULE_PATHNAME', 'molstamp_inchi_valid'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 100;
CREATE FUNCTION inchi_valid(inchi text, level text) RETURNS boolean
  AS 'MODULE_PATHNAME', 'molstamp_inchi_valid'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 1000;
CREATE FUNCTION inchi_valid(inchi bytea, level text) RETURNS boolean
  AS 'MODULE_PATHNAME', 'molstamp_inchi_valid'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 1000;
COMMENT ON FUNCTION inchi_valid(text, text) IS 'whether molstamp --validate passes the InChI, at level ''syntax'' (the default) or ''structure''';

-- Not strict: a NULL stored key is a verdict of its own, missing.
CREATE FUNCTION inchikey_verdict(inchi text, stored text) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey_verdict'
  LANGUAGE C IMMUTABLE PARALLEL SAFE COST 100;
CREATE FUNCTION inchikey_verdict(inchi bytea, stored bytea) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey_verdict'
  LANGUAGE C IMMUTABLE PARALLEL SAFE COST 100;
COMMENT ON FUNCTION inchikey_verdict(text, text) IS 'molstamp -c''s verdict on a stored key: agree, differs, missing or failed; NULL for no InChI';

CREATE FUNCTION inchikey_difference(stored text, computed text) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey_difference'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 10;
CREATE FUNCTION inchikey_difference(stored bytea, computed bytea) RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_inchikey_difference'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 10;
COMMENT ON FUNCTION inchikey_difference(text, text) IS 'the parts in which two InChIKeys differ, as molstamp --difference says them';

-- STABLE, not IMMUTABLE: an upgrade of the module changes it.
CREATE FUNCTION molstamp_version() RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_version_text'
  LANGUAGE C STABLE STRICT PARALLEL SAFE;
COMMENT ON FUNCTION molstamp_version() IS 'molstamp''s version and the InChI library''s';

-- Any other type of argument resolves to these, which name the type in
-- their error: clearer than "function inchikey(integer) does not exist".
-- PostgreSQL prefers text for unknown literals, varchar and domains over
-- text, so these catch only what the functions above cannot take.
CREATE FUNCTION inchikey(inchi "any") RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_wrong_type' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION inchikey_standard(inchi "any") RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_wrong_type' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION inchi_valid(inchi "any") RETURNS boolean
  AS 'MODULE_PATHNAME', 'molstamp_wrong_type' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION inchi_valid(inchi "any", level "any") RETURNS boolean
  AS 'MODULE_PATHNAME', 'molstamp_wrong_type' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION inchikey_verdict(inchi "any", stored "any") RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_wrong_type' LANGUAGE C IMMUTABLE PARALLEL SAFE;
CREATE FUNCTION inchikey_difference(stored "any", computed "any") RETURNS text
  AS 'MODULE_PATHNAME', 'molstamp_wrong_type' LANGUAGE C IMMUTABLE PARALLEL SAFE;
