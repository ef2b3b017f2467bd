// The record scanner: where CSV records and fields end, with quotes read as
// Python's csv module reads them by default. A field is quoted when its
// first byte is '"'; inside it "" is one '"', and the delimiter and line ends
// belong to the field; a '"' followed by the delimiter or a line end ends
// the field, and one followed by anything else ends the quoting: the rest of
// the field, up to the delimiter, is plain text, where a '"' is an ordinary
// byte, as it is in an unquoted field. A record ends at a line end outside
// quotes. The serial reader, the block reader and the annotator all take
// their records and fields from here.
#ifndef MOLSTAMP_RECORD_SCANNER_H
#define MOLSTAMP_RECORD_SCANNER_H

#include <cstddef>
#include <string>

// Where a scan stands between two bytes of a record.
enum class Quote : unsigned char {
  kFieldStart,  // at the start of a field: a '"' opens a quoted one
  kUnquoted,    // inside an unquoted field
  kQuoted,      // inside a quoted field
  kClosing,     // just after a '"' inside a quoted field: the next byte decides
};

// True when a record scanned up to here is still open at a line end: the
// line end belongs to a quoted field.
inline bool inside_quotes(Quote q) { return q == Quote::kQuoted; }

// Scans [p, end) of a record, starting in state q, for the record's own
// line end: returns the first LF or CR outside quotes, or end with q set to
// the state there. The delimiter must not be '"', CR, LF or NUL.
const char* next_record_end(const char* p, const char* end, char delimiter, Quote& q);

// The state after scanning [p, end) from q, for bytes that hold no line end
// (a line the line reader gave): only the quotes are looked at.
Quote scan_quotes(const char* p, const char* end, char delimiter, Quote q);

// Field (from 1) of a record (its own line end removed) as [begin, end),
// quotes included; false when the record has fewer fields.
bool find_csv_field(const char* record, size_t length, size_t field, char delimiter,
                    const char*& begin, const char*& end);

// The text of a field found by find_csv_field: the quoted part without its
// quotes and with "" as '"', then any plain text after the closing quote, in
// text (appended to nothing). An unquoted field is its bytes as they are.
void csv_field_text(const char* begin, const char* end, std::string& text);

#endif
