// json.h: a small JSON library. This header is its whole interface.
//
//   Types and codes ..... JsonType, JsonStatus, the node records
//   Access .............. json_type, json_length, json_text, json_array_item, json_object_find,
//                         json_object_get, json_first, json_next, json_free
//   Building ............ json_array_insert, json_object_add, json_object_sort
//   Parsing ............. json_parse and the parsers of each kind of value
//   Writing ............. JsonSink, JsonWriter, json_serialize, json_dump_to_log
//   Composing ........... json_compose
//   Editing ............. json_array_set, json_object_set
//   Text of a length, numbers, error positions
//                         json_parse_length, json_number_double, json_number_int64,
//                         json_number_uint64, json_error_position
//   Everyday tasks ...... json_serialize_pretty, json_serialize_compact, json_copy,
//                         json_compare, json_pointer_get
//
// A document is a tree of JsonValue nodes made only by parsing text. Numbers keep the exact
// characters they were written with; the library never converts them. Object members are kept
// sorted by key (strcmp order) so that lookup is a binary search; duplicate keys are kept.
// Every fallible operation returns an integer status. Nothing here is thread-safe, but separate
// documents may be used by separate threads.
//
// The header is C11 as well as C++: in C the types are named without the enums' fixed
// underlying types (their values are the same), and every function has C linkage.
#pragma once

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
extern "C" {
#else
#include <stddef.h>
#include <stdint.h>
#endif

typedef struct TextBuffer TextBuffer;
typedef struct JsonValue JsonValue;
typedef struct JsonLiteral JsonLiteral;
typedef struct JsonText JsonText;
typedef struct JsonCell JsonCell;
typedef struct JsonArray JsonArray;
typedef struct JsonMember JsonMember;
typedef struct JsonObject JsonObject;
typedef struct JsonWriter JsonWriter;

// ---------------------------------------------------------------------------------------------
// Types and codes

// The type of a value: one bit each, so that groups can be tested with a mask.
#ifdef __cplusplus
enum JsonType : uint32_t {
#else
enum JsonType {
#endif
    JSON_NULL = 2,
    JSON_FALSE = 4,
    JSON_TRUE = 8,
    JSON_STRING = 16,
    JSON_NUMBER = 32,
    JSON_ARRAY = 64,
    JSON_OBJECT = 128,
};

// Status words. The parsers return the JsonType code of what they read on success; document
// level operations return 0. The parsers, the composer and the editing operations fail with
// JSON_ENOMEM or JSON_ESYNTAX (and the value parsers say JSON_NOMATCH when no value of their
// kind is there). Other operations have statuses of their own, said where they are declared:
// json_object_get returns 22, the writer 12 or a sink's own non-zero result. Compare a status
// with the success the operation names (0, or the type code); do not test it for bits.
#ifdef __cplusplus
enum JsonStatus : int {
#else
enum JsonStatus {
#endif
    JSON_NOMATCH = 1,    // no value of the asked kind starts here, or the text ended inside it
    JSON_ENOMEM = 1024,  // a heap allocation failed
    JSON_ESYNTAX = 2048, // the text is not valid
};

// Deepest nesting of arrays and objects that the parser accepts.
#ifdef __cplusplus
enum : int { JSON_MAX_DEPTH = 1000 };
#else
enum { JSON_MAX_DEPTH = 1000 };
#endif

// Bit of JsonObject::flags: a member was appended since the members were last sorted.
#ifdef __cplusplus
enum : uint32_t { JSON_NEEDS_SORT = 1 };
#else
enum { JSON_NEEDS_SORT = 1 };
#endif

// A value is one zero-filled heap block: this header, then its payload in the same block
// (a JsonLiteral reference, a JsonText, a JsonArray or a JsonObject, by type).
struct JsonValue {
    uint32_t type;
    void *payload;
};

// Entry of the static table of the three literals.
struct JsonLiteral {
    const char *text;
    uint32_t length;
    uint32_t type;
};

// json_literals[0..2]: "null", "true", "false", in the order the parser tries them.
extern const JsonLiteral json_literals[3];

// Payload of a string or number: text points at length bytes and a NUL in the same block.
// A string holds its decoded bytes (possibly with zero bytes inside); a number holds its
// characters exactly as written.
struct JsonText {
    char *text;
    uint32_t length;
};

// One array item; every item sits in its own cell so it can be replaced in place.
struct JsonCell {
    JsonValue *value;
};

// Payload of an array: a vector of cell references that grows by 32 slots and never shrinks.
struct JsonArray {
    JsonCell **cells;
    uint32_t capacity;
    uint32_t count;
};

// One object member; the key is always a JSON_STRING value.
struct JsonMember {
    JsonValue *key;
    JsonValue *value;
};

// Payload of an object: a vector of member references, sorted by key unless JSON_NEEDS_SORT.
struct JsonObject {
    JsonMember **members;
    uint32_t capacity;
    uint32_t count;
    uint32_t flags;
};

// Position of an iteration: a slot of a container's vector, or null once it has ended.
// It stays valid only while the container is not changed.
typedef void **JsonCursor;

// ---------------------------------------------------------------------------------------------
// Access. Returned references are borrowed from the tree and live as long as their node.

// The value's JsonType code.
uint32_t json_type(const JsonValue *value);

// Literal: length of its text (null 4, true 4, false 5); string or number: its byte length;
// array or object: its item or member count.
uint32_t json_length(const JsonValue *value);

// The NUL-terminated text of a scalar (literal text, decoded string bytes, number characters),
// or null for a container. When length is given it receives json_length(value).
const char *json_text(const JsonValue *value, uint32_t *length);

// The array's item at a 0-based index, or null when index >= count. value must be an array.
JsonValue *json_array_item(const JsonValue *array, uint32_t index);

// The value of a member whose key equals key (strcmp), by binary search, or null. When
// key_output is given it receives that member's key value, or null. value must be an object;
// of members with one key, the one written last is found.
JsonValue *json_object_find(const JsonValue *object, const char *key, JsonValue **key_output);

// Typed lookup of a present, non-empty member: returns 0 and stores the member's value in
// *output when object is an object holding key with exactly the wanted type and a non-zero
// json_length. Otherwise returns 22: *output is untouched when object is null or not an object,
// null when the key is missing, and the found value when its type differs or it is empty.
int json_object_get(JsonValue **output, const JsonValue *object, const char *key, uint32_t wanted);

// Iteration: child = json_first(c, &second, &cursor); while (child) child = json_next(...).
// Arrays give their items in order and store null in *second; objects give their members in
// key order (members with one key in the order written) as the key, with the member's value in
// *second. Both return null at the end (and
// then set the cursor and *second to null), and for a value that is not a container (then
// nothing is written). second may be null.
JsonValue *json_first(const JsonValue *container, JsonValue **second, JsonCursor *cursor);
JsonValue *json_next(const JsonValue *container, JsonValue **second, JsonCursor *cursor);

// Frees the value in *slot with everything below it and stores null in *slot. A null slot, or
// one holding null, is left alone. It needs no memory and no recursion: any depth is freed.
void json_free(JsonValue **slot);

// ---------------------------------------------------------------------------------------------
// Building: the low-level steps the parser and the editing operations use.

// Inserts item at index (0 to count) in its own new cell. Returns 0, or JSON_ENOMEM with the
// array unchanged and item still owned by the caller.
int json_array_insert(JsonArray *array, uint32_t index, JsonValue *item);

// Appends a member without looking for its key and sets JSON_NEEDS_SORT. Returns 0, or
// JSON_ENOMEM with the object unchanged and key and value still owned by the caller.
int json_object_add(JsonObject *object, JsonValue *key, JsonValue *value);

// Sorts the members by key (strcmp order; members with one key keep the order they were added
// in) when JSON_NEEDS_SORT is set, clears the flag, and returns object.
JsonObject *json_object_sort(JsonObject *object);

// ---------------------------------------------------------------------------------------------
// Parsing. Every parser takes a position in NUL-terminated text, a required end output and an
// optional value output. With a null value output the text is only validated: nothing is
// allocated and the status is the one building would give. A value handed out is owned by the
// caller, who frees it with json_free; on any failure nothing is handed out and nothing leaks.
//
// The grammar: the document is an array or an object; white space is space, \t, \n, \v, \f and
// \r; a backslash before an unknown character stands for that character; a \u escape with
// fewer than four hex digits stands for the letter u; control bytes (0x00 to 0x1F, 0x7F) are
// refused inside strings; bytes from 0x80 up are copied without UTF-8 checks; text behind the
// document is not examined. Nesting deeper than JSON_MAX_DEPTH is refused with JSON_ESYNTAX.

// Parses a document. Returns 0 and stores the array or object in *root (when root is given),
// or JSON_ESYNTAX / JSON_ENOMEM and stores null there. A text of fewer than two bytes is
// JSON_ESYNTAX with *end at the text and *root not written. On success *end is just behind the
// closing bracket or brace. On a syntax error *end is at the first byte that cannot continue the
// document ("[1, x]": at x), except when the text ends first: then it is at the start of the
// innermost value left unfinished ("[1, 2": at the text's start; "[\"abc": at the quote), or
// at the text's end when that is a member's key ("{\"abc").
int json_parse(const char *text, const char **end, JsonValue **root);

// Skips white space and reads one value of any kind: string, number, literal, array or object,
// tried in this order. Returns its JsonType code, JSON_NOMATCH (then *end is at its first
// byte), JSON_ENOMEM or JSON_ESYNTAX. White space behind the value is not consumed.
int json_parse_value(const char *position, const char **end, JsonValue **value);

// Reads the array or object that starts exactly at position. Returns JSON_ARRAY / JSON_OBJECT,
// JSON_NOMATCH when no '[' / '{' stands there or the text ends before the closing bracket,
// JSON_ENOMEM or JSON_ESYNTAX.
int json_parse_array(const char *position, const char **end, JsonValue **value);
int json_parse_object(const char *position, const char **end, JsonValue **value);

// Reads a string. quoted 1: it must start with a double quote at position. quoted 0 (bare
// mode, for keys given as plain text): the text may stand with or without double quotes;
// without, it runs to the NUL and may hold no double quote. Escapes are decoded. Returns
// JSON_STRING, JSON_NOMATCH (no opening quote when quoted, an unterminated quoted string, or an
// empty bare text), JSON_ENOMEM or JSON_ESYNTAX (a control byte, raw or escaped, an unpaired
// surrogate, a quote inside unquoted bare content). On success *end is behind the string.
int json_parse_string(const char *position, int quoted, const char **end, JsonValue **value);

// Decodes the \uXXXX escape at position (a surrogate pair takes both escapes). Returns 0 with
// *code_point and *end (behind the escape) set; JSON_NOMATCH when position holds no backslash
// and 'u' or fewer than four hex digits follow; JSON_ESYNTAX for an unpaired surrogate.
int json_parse_unicode_escape(const char *position, const char **end, uint32_t *code_point);

// Writes the UTF-8 form of code_point and a NUL into output (5 bytes); returns 1 to 4, the
// number of bytes before the NUL.
int json_utf8_encode(uint32_t code_point, char *output);

// The first position at or after position that is not white space.
const char *json_skip_space(const char *position);

// ---------------------------------------------------------------------------------------------
// Writing. Documents are written on one line: "[ 1, 2 ]", "{ \"a\": 1 }", "[  ]", "{  }";
// numbers and literals as stored, strings quoted and escaped, members in stored (key) order.

// Receives output: count bytes at text, not zero-terminated. Returns 0 when it took them all;
// any other value stops the writer, which passes it back unchanged.
typedef int (*JsonSink)(const char *text, int count, void *context);

// Writer state: output is staged in 256 bytes and reaches the sink in chunks of exactly 256
// bytes while writing, and in one last chunk from the final flush.
struct JsonWriter {
    JsonSink sink;
    void *sink_context;
    TextBuffer *escape_buffer; // for json_escape_string (the composer); released by it
    char staging[256];
    // What is written for each separator: separator_length bytes of each field. json_writer_init
    // sets the one-line form below with length 2. A caller may set other separators of one
    // common length of 0, 1 or 2 (1 and "[", "]", "{", "}", ":", ",": compact output) before
    // writing; a length above 2 is not allowed (the fields hold two bytes and a NUL).
    char open_array[3];       // "[ "
    char close_array[3];      // " ]"
    char open_object[3];      // "{ "
    char close_object[3];     // " }"
    char name_separator[3];   // ": "
    char value_separator[3];  // ", "
    int32_t separator_length; // 2
    char *write_pos;          // staging + staging_used
    uint32_t staging_capacity;
    uint32_t staging_used;
};

// Clears the writer and sets it up for the sink and its context.
void json_writer_init(JsonWriter *writer, JsonSink sink, void *sink_context);

// Stages pairs of (const char *bytes, unsigned count) given as the variable arguments, up to a
// null bytes pointer; a pair with count 0 also ends the list. A full staging buffer is flushed
// only when more bytes wait. Returns 0, or the sink's non-zero result (remaining bytes dropped).
int json_writer_write(JsonWriter *writer, ...);

// Hands the staged bytes to the sink (also when there are none) and returns its result; on a
// non-zero result the bytes stay staged.
int json_writer_flush(JsonWriter *writer);

// Writes one value through the staging buffer, escaping strings straight into it. A string is
// written whole, a zero byte inside it as \u0000. The tree is walked without recursion, so any
// depth can be written; nesting deeper than 64 levels takes a heap block for the walk. Returns
// 0, the first non-zero sink result, or 12 when that block cannot be had. A value of no known
// type writes nothing and returns 0.
int json_write_value(JsonWriter *writer, const JsonValue *value);

// Quotes and escapes up to length bytes of source, stopping early at a zero byte, into
// *escape_buffer (created when null). *out_text (optional) receives the quoted, NUL-terminated
// text, valid until the next call with this buffer; *out_length (optional) its length with both
// quotes. Escapes: \b \t \n \f \r \" \\, other bytes below 0x20 and 0x7F as \u00xx; bytes from
// 0x80 up and '/' pass unchanged. Returns 0 or 12. With a null source it releases the buffer
// instead, sets *escape_buffer to null and returns 0.
int json_escape_string(const char **out_text, const char *source, uint32_t length,
                       uint32_t *out_length, TextBuffer **escape_buffer);

// Writes the document (or any value) rooted at root to the sink, flushing once at the end when
// all went well. Returns 0, the first non-zero sink result, or 12 as json_write_value does.
int json_serialize(const JsonValue *root, JsonSink sink, void *sink_context);

// Logs the document as one line at level 7, or "Error dumping json" when it cannot be written.
void json_dump_to_log(const JsonValue *root);

// ---------------------------------------------------------------------------------------------
// Composing

// Writes JSON text made from a template to the sink. The template may hold only tab, line feed,
// form feed, carriage return, blank , : [ ] { } and these directives:
//   %s   const char *text      the text quoted and escaped
//   %*s  int length, text      at most length bytes of the text, quoted and escaped
//   %d   int                   the decimal number
//   %c   int                   its lowest byte, which must be one of the template characters
//   %J   int                   JSON_NULL, JSON_FALSE or JSON_TRUE as null, false or true
// Every string stops at its first zero byte. Returns 0 when all was written and flushed;
// JSON_ESYNTAX at the first byte that is none of the above, for a %c or %J argument not
// allowed, for a null text and for a negative %*s length; 12 when the escape buffer cannot
// grow (a text of 4 GiB or more never fits it: it is refused whole, never cut); otherwise the
// sink's non-zero result. A failure skips the final flush, so the sink has
// then seen only full 256-byte chunks.
int json_compose(JsonSink sink, void *sink_context, const char *template_text, ...);

// ---------------------------------------------------------------------------------------------
// Editing. New values are given as JSON text, read with json_parse_value and accepted only when
// the text is used up exactly (no trailing white space). Every failure leaves the container as
// it was and frees whatever the call read. Cursors over the container are invalid afterwards.

// With text: replaces the item at index (0 to count - 1) in place, or appends when index ==
// count. With null text: removes the item at index (below count). The caller guarantees the
// type. Returns 0, JSON_NOMATCH (index past the end: above count with text, count or above
// without; nothing is read or changed), JSON_ENOMEM (no room to append) or JSON_ESYNTAX (text
// rejected, also when reading it ran out of memory).
int json_array_set(JsonValue *array, uint32_t index, const char *text);

// With text: replaces the value of the member whose key equals key (strcmp, the key text
// unchanged), or inserts a new member. The new member's key is key read by json_parse_string in
// bare mode, so it may stand in double quotes and its escapes are decoded; a key text that
// reading changes is then not found again by a later call, which inserts another member.
// With null text: removes the member with that key, or returns JSON_NOMATCH and changes nothing
// when there is none. The object is sorted on return. Returns 0, JSON_NOMATCH, JSON_ENOMEM (no
// room for the new member) or JSON_ESYNTAX (key or text rejected, also when reading ran out of
// memory).
int json_object_set(JsonValue *object, const char *key, const char *text);

// ---------------------------------------------------------------------------------------------
// Text of a length, numbers, error positions. Declared in plain C types; none of these
// functions allocates except json_parse_length when it builds a document.

// Statuses of this section, beside JSON_NOMATCH, JSON_ENOMEM and JSON_ESYNTAX.
enum {
    JSON_EINVAL = 22, // an argument the function cannot take (as json_object_get's 22)
    JSON_ERANGE = 34, // a number that the asked type cannot hold
};

// Flags of json_parse_length.
enum {
    // RFC 8259 and nothing else: white space is only space, \t, \n and \r; the document is any
    // one value, with only white space behind it; strings hold UTF-8 as RFC 3629 defines it (no
    // overlong forms, no surrogates, nothing above U+10FFFF), may hold a raw DEL (0x7F), and
    // take only the escapes \" \\ \/ \b \f \n \r \t and \u with exactly four hex digits. As in
    // the default grammar, a \u escape of an unpaired surrogate is refused, nesting deeper
    // than JSON_MAX_DEPTH is refused, numbers of any size are kept as written, and duplicate
    // keys are kept.
    JSON_PARSE_STRICT = 1,
};

// Parses the length bytes at text as a document. No byte at or past text + length is read, and
// no NUL is needed: a zero byte inside the length is a byte like any other, which no grammar
// allows outside a string and neither allows raw inside one. With flags 0 the grammar, the
// statuses and the positions are those of json_parse on the same bytes followed by a NUL
// (fewer than two bytes: JSON_ESYNTAX, *end at text, *root not written), except that a zero
// byte inside the length is not taken for the text's end. With JSON_PARSE_STRICT the strict
// grammar above applies; on success *end is just behind the value, and on a failure *root
// (when given) is set to null and *end is where json_parse would put it, or, for text behind
// the value, at its first byte that is not white space ("1 x": at x). Returns 0, JSON_ESYNTAX,
// JSON_ENOMEM, or JSON_EINVAL for a flag bit not defined here (then *end is text and *root is not
// written). With a null root the text is only validated and nothing is allocated.
int json_parse_length(const char *text, size_t length, unsigned flags, const char **end,
                      JsonValue **root);

// Number values as C types. The stored text is never changed. Each returns 0 and stores the
// value in *out, JSON_NOMATCH when number is null or not a JSON_NUMBER (*out untouched), or
// JSON_ERANGE as said for each.
//
// The double nearest to the number's value (round half to even), whatever the C locale's
// decimal point. JSON_ERANGE when that magnitude is too large for a double (*out is then
// HUGE_VAL with the number's sign) or when a number that is not zero comes out as zero (*out
// is then zero with the number's sign). A result below DBL_MIN that is not zero is returned
// with 0, rounded like any other.
int json_number_double(const JsonValue *number, double *out);

// The number's exact value as an integer. A number counts as an integer by its value, not by
// its form: 100, 1e2, 1.0E+2 and 100.00 all give 100, -0 gives 0. JSON_ERANGE, with *out
// untouched, when the value has a fractional part (1.5, 1e-1) or lies outside the type's range
// (int64_t: -9223372036854775808 to 9223372036854775807; uint64_t: 0 to 18446744073709551615).
int json_number_int64(const JsonValue *number, int64_t *out);
int json_number_uint64(const JsonValue *number, uint64_t *out);

// The 1-based line and column of the byte at end in the text starting at text, for the end
// that a failed parse gave. Lines are ended by LF alone (so CR LF ends one line, and a lone CR
// is a byte of its line like any other); the column counts bytes, not characters, from 1 for
// the line's first byte; a tab is one byte. Only the bytes from text up to end are read (not
// the one at end). Returns 0, JSON_EINVAL when text or end is null or end is before text
// (nothing written), or JSON_ERANGE when the line or column exceeds UINT32_MAX (nothing
// written).
int json_error_position(const char *text, const char *end, uint32_t *line, uint32_t *column);

// ---------------------------------------------------------------------------------------------
// Everyday tasks: indented and compact writing, copying, comparing and JSON Pointer lookup.
// The hub itself uses none of them. Each walks the tree without recursion, so any depth works.

// Writes the value rooted at root to the sink with one item or member per line, each line
// indented by indent blanks per level of nesting, members as "key": value, empty containers as
// [] and {}, and no line feed after the last line. Lines end with \n on every system. Strings,
// numbers and literals are written as json_serialize writes them. Returns 0, the first non-zero
// sink result, or 12 when the walk's block (beyond 64 levels) cannot be had.
int json_serialize_pretty(const JsonValue *root, unsigned indent, JsonSink sink,
                          void *sink_context);

// Writes the value rooted at root with no blank at all: [1,2], {"a":[]}. Otherwise and in its
// statuses like json_serialize.
int json_serialize_compact(const JsonValue *root, JsonSink sink, void *sink_context);

// Makes a deep copy of value: a new document of its own blocks, owned by the caller (free it
// with json_free, on any thread), with the same types, texts, items and members in the same
// stored order, and the same JSON_NEEDS_SORT flags. Returns 0 with the copy in *copy, or
// JSON_ENOMEM (nothing is left allocated) or JSON_NOMATCH for a null value, with null there.
int json_copy(JsonValue **copy, const JsonValue *value);

// Compares two values structurally: the same type, the same bytes for strings and numbers
// (numbers by their text: 1.0, 1 and 1e0 differ), the same items in order, and the same count
// of members with equal keys and equal values pair by pair in stored order. Duplicate keys are
// members like any other: {"a": 1, "a": 1} differs from {"a": 1}. Objects flagged
// JSON_NEEDS_SORT are compared as they stand (sort them first). Allocates only beyond 64 levels
// of nesting. Returns 0 when a and b are equal, JSON_NOMATCH when they differ (also when either
// is null), or JSON_ENOMEM when the walk's block cannot be had.
int json_compare(const JsonValue *a, const JsonValue *b);

// Looks up the value a JSON Pointer (RFC 6901) names below root: "" is root itself, and each
// "/token" steps into an object's member with that key (~1 stands for '/', ~0 for '~'; with
// duplicate keys the one written last, as json_object_find finds it; an object flagged
// JSON_NEEDS_SORT is searched member by member) or an array's item at that decimal index (0, or
// digits without a leading zero). Returns 0 with the value in *output; JSON_NOMATCH when nothing is
// there (a missing key, an index at or past the end, "-", a token that is no index for an array, a
// step into a scalar, a null root); JSON_ESYNTAX for a pointer that is not one (null, not empty and
// not starting with '/', or '~' not followed by 0 or 1), whatever the document. On every failure
// *output is null. Allocates nothing.
int json_pointer_get(JsonValue **output, const JsonValue *root, const char *pointer);

#ifdef __cplusplus
}
#endif
