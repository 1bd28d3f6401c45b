// Checks a document against a JSON Schema, for the keywords that docs/report.schema.json uses:
// type, enum, required, properties, additionalProperties (false), items, minimum, pattern and
// $ref into "#/$defs/". Any other keyword that would constrain a value is itself reported, so
// that the schema cannot say more than is checked.
#pragma once

#include <string>
#include <vector>

// Every way the document breaks the schema, as "location: problem"; empty when it conforms.
// A text that does not parse is reported as such.
std::vector<std::string> schema_violations(const std::string &schema_text,
                                           const std::string &document_text);

// The report schema of the source tree.
std::string report_schema();
